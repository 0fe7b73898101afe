// Two writers on one store: the GUI's "add REG_DW value" command (a view in its own process) and
// tovik-reg's command line (its "set", in another process) write 10,000 values each at the same
// time, while tovik-reg itself imports ten files of 1,000 values. No write is lost and the store
// stays sound. And a writer gets its turn between the commits of writers that never pause.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <iostream>
#include <map>

#include "registry/key_tree_ops.h"
#include "registry/registry_api.h"
#include "registry/registry_store.h"
#include "reliability/reliability_support.h"
#include "stores/open_store.h"

namespace {

using namespace reliability;

constexpr int kValuesEach = 10000;

double timeAfter(const std::string& output, const std::string& word) {
    const std::size_t at = output.find(word + " ");
    return at == std::string::npos ? 0 : std::stod(output.substr(at + word.size() + 1));
}

// name -> number of the REG_DWORD values directly in root\path.
std::map<std::u16string, DWORD> dwordValues(const std::u16string& path) {
    std::map<std::u16string, DWORD> values;
    for (const auto& [name, value] : ReadValues(HKEY_CURRENT_USER, path)) {
        EXPECT_EQ(value.type, REG_DWORD);
        DWORD number = 0;
        if (value.data.size() == sizeof number) std::memcpy(&number, value.data.data(), sizeof number);
        values[name] = number;
    }
    return values;
}

// Two processes commit one value after another without a pause; a third writes values, each in
// a transaction of its own, for longer than the store's 5 s wait. Every write must find the lock
// free between the others' commits well within the wait: none of the three may fail as busy.
TEST(TwoWriters, EachWriteGetsItsTurnBetweenTheCommitsOfBusyWriters) {
    TempDir dir;
    const std::string store = dir.File("registry.db");
    ASSERT_TRUE(tovik::openRegistryStore(store).ok);
    tovik::closeRegistryStore();
    Child first({{HELPER_PATH, "ack-writer", store, "Busy\\First", "0"}, {}, {}, {}, {}});
    Child second({{HELPER_PATH, "ack-writer", store, "Busy\\Second", "0"}, {}, {}, {}, {}});
    std::string line;
    ASSERT_TRUE(first.ReadLine(line, 20000) && line == "ready");
    ASSERT_TRUE(second.ReadLine(line, 20000) && line == "ready");

    ASSERT_TRUE(tovik::openRegistryStore(store).ok);
    HKEY key = 0;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, u"Mine", 0, nullptr, 0, 0, nullptr, &key, nullptr), ERROR_SUCCESS);
    double longest = 0;
    DWORD written = 0;
    const double began = Now();
    for (DWORD i = 0; i < 100 || Now() - began < 6; ++i) {
        const Bytes data = dwordToBytes(i);
        const double start = Now();
        const LONG rc = RegSetValueExW(key, (u"m" + Ascii(std::to_string(i))).c_str(), 0, REG_DWORD, data.data(),
                                       static_cast<DWORD>(data.size()));
        longest = std::max(longest, Now() - start);
        if (rc != ERROR_SUCCESS) {
            ADD_FAILURE() << "write " << i << " failed: " << rc;
            break;
        }
        ++written;
        first.TakeReadyOutput();
        second.TakeReadyOutput();
    }
    RegCloseKey(key);
    tovik::closeRegistryStore();
    // The busy writers stop at their first failed write: both must still be writing.
    std::size_t acknowledged[2] = {0, 0};
    for (int w = 0; w < 2; ++w) {
        Child& writer = w == 0 ? first : second;
        writer.Kill(SIGKILL);
        while (writer.ReadLine(line, 1000)) ++acknowledged[w];
        const ChildExit end = writer.Wait();
        EXPECT_FALSE(end.exited) << "busy writer " << w << " stopped: " << end.err;
    }
    std::cout << written << " writes, the longest took " << longest << " s; the busy writers committed "
              << acknowledged[0] << " and " << acknowledged[1] << " values in all" << std::endl;
    EXPECT_GT(acknowledged[0] + acknowledged[1], 0u);
    // Waiting in long sleeps, a write found the lock only after seconds, near the end of the wait.
    EXPECT_LT(longest, 2.5) << "a write waited for half the store's wait";
    EXPECT_EQ(IntegrityCheck(store), "ok");
    ASSERT_TRUE(tovik::openRegistryStore(store).ok);
    EXPECT_EQ(dwordValues(u"Mine").size(), written);
    tovik::closeRegistryStore();
}

// A batch that commits with a pause leaves the lock free that long: a writer of another process
// that was waiting for it writes then, not only after the batch's end.
TEST(TwoWriters, ACommitWithAPauseLetsAWaitingWriterIn) {
    TempDir dir;
    const std::string store = dir.File("registry.db");
    ASSERT_TRUE(tovik::openRegistryStore(store).ok);
    tovik::closeRegistryStore();
    int toChild[2], toParent[2];
    ASSERT_EQ(pipe(toChild), 0);
    ASSERT_EQ(pipe(toParent), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        char go = 0;
        if (read(toChild[0], &go, 1) != 1 || !tovik::openRegistryStore(store).ok) _exit(2);
        HKEY key = 0;
        const LONG rc = RegCreateKeyExW(HKEY_CURRENT_USER, u"Waiting", 0, nullptr, 0, 0, nullptr, &key, nullptr);
        if (write(toParent[1], rc == ERROR_SUCCESS ? "w" : "f", 1) != 1) _exit(3);
        _exit(rc == ERROR_SUCCESS ? 0 : 4);
    }
    ASSERT_TRUE(tovik::openRegistryStore(store).ok);
    {
        tovik::RegistryBatch batch;
        HKEY key = 0;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, u"Batch", 0, nullptr, 0, 0, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        RegCloseKey(key);
        ASSERT_EQ(write(toChild[1], "g", 1), 1);
        usleep(300 * 1000);  // the child now waits for the lock the batch holds
        pollfd wrote{toParent[0], POLLIN, 0};
        EXPECT_EQ(poll(&wrote, 1, 0), 0) << "the child wrote while the batch held the lock";
        EXPECT_TRUE(batch.commit(std::chrono::milliseconds(1500)));
        // The child's write happened during the pause, before the batch took the lock again.
        EXPECT_EQ(poll(&wrote, 1, 0), 1) << "the child did not get the lock during the pause";
        EXPECT_TRUE(batch.finish());
    }
    char outcome = 0;
    EXPECT_EQ(read(toParent[0], &outcome, 1), 1);
    EXPECT_EQ(outcome, 'w');
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_TRUE(keyExists(HKEY_CURRENT_USER, u"Waiting"));
    tovik::closeRegistryStore();
    for (int fd : {toChild[0], toChild[1], toParent[0], toParent[1]}) close(fd);
}

#ifdef GUI_WRITER_PATH
TEST(TwoWriters, GuiCommandsAndTovikRegLoseNoWrite) {
    TempDir dir;
    const std::string store = dir.File("registry.db");
    ASSERT_TRUE(tovik::openRegistryStore(store).ok);
    tovik::closeRegistryStore();

    std::vector<std::string> importFiles;
    for (int f = 0; f < 10; ++f) {
        std::vector<std::u16string> lines{u"Tovik レジストリ退避ファイル Ver1.0", u"\\\\HKEY_CURRENT_USER",
                                          u"[TwoWriters\\Import\\F" + Ascii(std::to_string(f)) + u"]"};
        for (int v = 0; v < 1000; ++v) {
            lines.push_back(u"\"i" + Ascii(std::to_string(v)) + u"\"=DW:" + Ascii(std::to_string(f * 1000 + v)));
        }
        importFiles.push_back(dir.File("import" + std::to_string(f) + ".txt"));
        WriteFileBytes(importFiles.back(), BackupFile(lines));
    }

    const double limit = 600 * TimeScale();
    Child gui({{GUI_WRITER_PATH, store, "TwoWriters\\Gui", std::to_string(kValuesEach)},
               {"QT_QPA_PLATFORM=offscreen"},
               {},
               {},
               {}});
    Child cli({{HELPER_PATH, "cli-writer", store, "TwoWriters\\Cli", std::to_string(kValuesEach)}, {}, {}, {}, {}});
    // The imports are spread over the time the other two write.
    std::string line;
    ASSERT_TRUE(gui.ReadLine(line, 60000)) << "the GUI writer did not start";
    for (const std::string& file : importFiles) {
        const ChildExit imported = RunChild({{TOVIK_REG_PATH, "--registry", store, "import", file}, {}, {}, {}, {}});
        EXPECT_EQ(imported.code, 0) << imported.err;
    }
    const ChildExit guiExit = gui.Wait(limit);
    const ChildExit cliExit = cli.Wait(limit);
    ASSERT_EQ(guiExit.code, 0) << guiExit.err;
    ASSERT_EQ(cliExit.code, 0) << cliExit.err;

    // They did write at the same time.
    const double guiStart = std::stod(line.substr(6)), guiEnd = timeAfter(guiExit.out, "end");
    const double cliStart = timeAfter(cliExit.out, "start"), cliEnd = timeAfter(cliExit.out, "end");
    EXPECT_LT(std::max(guiStart, cliStart), std::min(guiEnd, cliEnd));
    std::cout << "GUI wrote for " << guiEnd - guiStart << " s, the command line for " << cliEnd - cliStart
              << " s, overlapping " << std::min(guiEnd, cliEnd) - std::max(guiStart, cliStart) << " s" << std::endl;

    EXPECT_EQ(IntegrityCheck(store), "ok");
    ASSERT_TRUE(tovik::openRegistryStore(store).ok);
    std::size_t guiValues = 0;
    for (int k = 0; k < kValuesEach / 100; ++k) {
        const auto values = dwordValues(u"TwoWriters\\Gui\\K" + Ascii(std::to_string(k)));
        for (int v = k * 100; v < (k + 1) * 100; ++v) {
            const auto found = values.find(u"g" + Ascii(std::to_string(v)));
            guiValues += found != values.end() && found->second == static_cast<DWORD>(v);
        }
    }
    EXPECT_EQ(guiValues, static_cast<std::size_t>(kValuesEach)) << "values of the GUI lost";
    const auto cliValues = dwordValues(u"TwoWriters\\Cli");
    std::size_t cliFound = 0;
    for (int v = 0; v < kValuesEach; ++v) {
        const auto found = cliValues.find(u"c" + Ascii(std::to_string(v)));
        cliFound += found != cliValues.end() && found->second == static_cast<DWORD>(v);
    }
    EXPECT_EQ(cliFound, static_cast<std::size_t>(kValuesEach)) << "values of the command line lost";
    std::size_t imported = 0;
    for (int f = 0; f < 10; ++f) imported += dwordValues(u"TwoWriters\\Import\\F" + Ascii(std::to_string(f))).size();
    EXPECT_EQ(imported, 10000u);
    tovik::closeRegistryStore();
}
#endif

}  // namespace
