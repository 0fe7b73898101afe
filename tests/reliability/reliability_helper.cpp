// Child processes for the reliability tests.
//   ack-writer STORE KEY COUNT   writes DW values v0, v1, ... under HKCU\KEY, one transaction each,
//                                and prints each index after its write returned (0: no end)
//   hold-lock STORE SECONDS      holds an exclusive lock on STORE, prints "locked", then waits
//   hold-write-lock STORE SECONDS  holds STORE's write lock (BEGIN IMMEDIATE), prints "locked",
//                                then waits; readers still get in
//   cli-writer STORE KEY COUNT   runs tovik-reg's command line "set HKCU\KEY cN DW N" COUNT times
//                                in this process; prints the start and end times
//   connect SOCKET               connects to a local socket: exit 0 when it could, 3 when not
//   peak-memory PROGRAM ARGS...  runs PROGRAM with its output on ours, then writes its peak
//                                resident memory as the last line of stderr ("peak-memory-kib: N")
//                                and ends as it ended (its exit status or its signal)
// Exit status 0, or 1 with a message on stderr.
#include <signal.h>
#include <sqlite3.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "cli/commands.h"
#include "registry/registry_api.h"
#include "registry/registry_store.h"
#include "reliability/reliability_support.h"
#include "stores/open_store.h"

namespace {

int fail(const std::string& message) {
    std::fprintf(stderr, "reliability_helper: %s\n", message.c_str());
    return 1;
}

std::u16string widen(std::string_view text) {
    return std::u16string(text.begin(), text.end());
}

int ackWriter(const std::string& store, const std::string& keyPath, unsigned long count) {
    const tovik::StoreOpenResult opened = tovik::openRegistryStore(store);
    if (!opened.ok) return fail(opened.error);
    HKEY key = 0;
    DWORD disposition = 0;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, widen(keyPath).c_str(), 0, nullptr, 0, 0, nullptr, &key, &disposition) !=
        ERROR_SUCCESS)
        return fail("cannot create the key");
    std::printf("ready\n");
    std::fflush(stdout);
    for (unsigned long i = 0; count == 0 || i < count; ++i) {
        const std::u16string name = u"v" + widen(std::to_string(i));
        const Bytes data = dwordToBytes(static_cast<DWORD>(i));
        const LONG rc = RegSetValueExW(key, name.c_str(), 0, REG_DWORD, data.data(), static_cast<DWORD>(data.size()));
        if (rc != ERROR_SUCCESS) return fail("write " + std::to_string(i) + " failed: " + std::to_string(rc));
        std::printf("%lu\n", i);
        std::fflush(stdout);
    }
    RegCloseKey(key);
    tovik::closeRegistryStore();
    return 0;
}

// exclusive: no other connection gets in, readers included; else only other writers wait.
int holdLock(const std::string& store, int seconds, bool exclusive) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(store.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) return fail("cannot open");
    char* error = nullptr;
    const char* lock = exclusive ? "PRAGMA locking_mode = EXCLUSIVE; BEGIN EXCLUSIVE; "
                                   "CREATE TEMP TABLE t(x); SELECT count(*) FROM sqlite_schema;"
                                 : "BEGIN IMMEDIATE";
    if (sqlite3_exec(db, lock, nullptr, nullptr, &error) != SQLITE_OK) {
        const std::string message = error ? error : "?";
        sqlite3_free(error);
        return fail("cannot lock: " + message);
    }
    std::printf("locked\n");
    std::fflush(stdout);
    ::sleep(static_cast<unsigned>(seconds));
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    return 0;
}

int cliWriter(const std::string& store, const std::string& keyPath, unsigned long count) {
    const std::string key = "HKCU\\" + keyPath;
    std::printf("start %.6f\n", reliability::Now());
    std::fflush(stdout);
    for (unsigned long i = 0; i < count; ++i) {
        const std::string name = "c" + std::to_string(i);
        const std::string number = std::to_string(i);
        const std::vector<std::string_view> args = {"--registry", store, "set", key, name, "DW", number};
        std::ostringstream out, err;
        const int code = tovik::cli::runCommandLine(args, out, err);
        if (code != 0) return fail("set " + name + " failed: " + err.str());
    }
    std::printf("end %.6f\n", reliability::Now());
    return 0;
}

int connect(const std::string& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (fd < 0 || path.size() >= sizeof address.sun_path) return fail("cannot make a socket");
    path.copy(address.sun_path, path.size());
    const bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected ? 0 : 3;
}

// The kernel counts a process's peak memory from before its exec too: a child forked from a large
// test process would report the test's memory as its own. Forked from this small process after
// its exec, the program's peak is its own.
int peakMemory(char** argv) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);  // killed with us, e.g. by the test's time limit
        if (::getppid() == 1) ::_exit(127);
        ::execv(argv[0], argv);
        ::_exit(127);
    }
    if (pid < 0) return fail("fork failed");
    int status = 0;
    struct rusage usage {};
    while (::wait4(pid, &status, 0, &usage) < 0) {
        if (errno != EINTR) return fail("wait4 failed");
    }
    std::fprintf(stderr, "peak-memory-kib: %ld\n", usage.ru_maxrss);
    std::fflush(stderr);
    if (WIFSIGNALED(status)) {
        ::signal(WTERMSIG(status), SIG_DFL);
        ::raise(WTERMSIG(status));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 4 && args[0] == "ack-writer") return ackWriter(args[1], args[2], std::stoul(args[3]));
    if (args.size() == 3 && args[0] == "hold-lock") return holdLock(args[1], std::stoi(args[2]), true);
    if (args.size() == 3 && args[0] == "hold-write-lock") return holdLock(args[1], std::stoi(args[2]), false);
    if (args.size() == 4 && args[0] == "cli-writer") return cliWriter(args[1], args[2], std::stoul(args[3]));
    if (args.size() == 2 && args[0] == "connect") return connect(args[1]);
    if (args.size() >= 2 && args[0] == "peak-memory") return peakMemory(argv + 2);
    return fail("usage: ack-writer STORE KEY COUNT | hold-lock STORE SECONDS | "
                "hold-write-lock STORE SECONDS | cli-writer STORE KEY COUNT | "
                "connect SOCKET | peak-memory PROGRAM ARGS...");
}
