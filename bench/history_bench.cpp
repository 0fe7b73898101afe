#include "bench/history_bench.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

#include "backup/backup_export.h"
#include "history/recording_backend.h"
#include "history/undo_redo.h"
#include "registry/key_tree_ops.h"
#include "registry/registry_api.h"
#include "registry/registry_store.h"
#include "stores/open_store.h"
#include "stores/sqlite/sqlite_store.h"

namespace tovik::bench {

namespace {

// M's size: 100 groups of 1,000 keys, ten values each.
constexpr std::uint64_t kGroups = 100, kKeysPerGroup = 1000, kValuesPerKey = 10;
constexpr std::uint64_t kKeys = kGroups * kKeysPerGroup + kGroups + 1,
                        kValues = kGroups * kKeysPerGroup * kValuesPerKey;
constexpr std::uint64_t kHistoryEntries = 10'000;

void removeStore(const std::string& path) {
    std::error_code ignored;
    for (const char* suffix : {"", "-journal", "-wal", "-shm"}) std::filesystem::remove(path + suffix, ignored);
}

// The histories of the stores a case makes and removes go to a folder of their own, emptied
// before each run: a history left by the last run (of a store since removed) would be trimmed
// inside the next run's timing.
void freshHistories(const std::string& dataDir) {
    const std::string folder = dataDir + "/state-scratch";
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    setenv("XDG_STATE_HOME", folder.c_str(), 1);
}

std::u16string digits(std::uint64_t n) {
    const std::string text = std::to_string(n);
    return std::u16string(text.begin(), text.end());
}

// The store at path, recorded (as the program opens it) or bare.
bool openStore(const std::string& path, bool recorded) {
    if (recorded) return openRegistryStore(path).ok;
    std::unique_ptr<Backend> backend;
    if (!openSqliteStore(path, backend).ok) return false;
    setCurrentBackend(std::move(backend));
    return true;
}

// Writes M's shape under HKLM\Bench in batches that commit every 10,000 keys, as an import does.
std::uint64_t writeTree() {
    history::ChangeScope scope(u"import bench");
    RegistryBatch batch;
    std::uint64_t values = 0;
    for (std::uint64_t g = 0; g < kGroups; ++g) {
        for (std::uint64_t k = 0; k < kKeysPerGroup; ++k) {
            const std::u16string path = u"Bench\\G" + digits(g) + u"\\K" + digits(k);
            HKEY key = 0;
            if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, 0, nullptr, &key, nullptr) !=
                ERROR_SUCCESS)
                return values;
            for (std::uint64_t v = 0; v < kValuesPerKey; ++v) {
                const DWORD data = static_cast<DWORD>(g * k + v);
                if (RegSetValueExW(key, (u"Value" + digits(v)).c_str(), 0, REG_DWORD,
                                   reinterpret_cast<const BYTE*>(&data), sizeof data) == ERROR_SUCCESS)
                    ++values;
            }
            RegCloseKey(key);
        }
        if (g % 10 == 9) batch.commit();
    }
    batch.finish();
    return values;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void timeBulkWrite(BenchRunner& runner, const std::string& dataDir) {
    for (const bool recorded : {false, true}) {
        const CaseSpec spec{recorded ? "write M's keys and values (recorded)"
                                     : "write M's keys and values (unrecorded)",
                            "100,000 keys", "values", kValues};
        const std::string path = dataDir + "/history-write.db";
        runner.run(spec, [&](Stopwatch& watch) {
            removeStore(path);
            freshHistories(dataDir);
            if (!openStore(path, recorded)) return RunResult::failed("cannot open the store");
            watch.start();
            const std::uint64_t values = writeTree();
            watch.stop();
            closeRegistryStore();
            removeStore(path);
            return RunResult{values, {}};
        });
    }
}

void timeDurableSet(BenchRunner& runner, const std::string& dataDir) {
    for (const bool recorded : {false, true}) {
        const CaseSpec spec{recorded ? "set a value (durable, recorded)" : "set a value (durable, unrecorded)",
                            "small store", "values", 20, false};
        const std::string path = dataDir + "/history-set.db";
        removeStore(path);
        freshHistories(dataDir);
        if (!openStore(path, recorded)) {
            runner.skip(spec, "cannot open the store");
            continue;
        }
        HKEY key = 0;
        RegCreateKeyExW(HKEY_CURRENT_USER, u"Set", 0, nullptr, 0, 0, nullptr, &key, nullptr);
        DWORD n = 0;
        runner.run(spec, [&](Stopwatch& watch) {
            std::uint64_t done = 0;
            watch.start();
            for (int i = 0; i < 20; ++i, ++n)
                done += RegSetValueExW(key, u"v", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&n), sizeof n) ==
                        ERROR_SUCCESS;
            watch.stop();
            return RunResult{done, {}};
        });
        RegCloseKey(key);
        closeRegistryStore();
        removeStore(path);
    }
}

void timeUndoOfSubtreeDelete(BenchRunner& runner, const std::string& dataDir) {
    const CaseSpec spec{"undo the delete of a subtree",    "100,000 keys", "values", kValues, true,
                        "MB peak resident during the undo"};
    const std::string path = dataDir + "/history-undo.db";
    const std::string before = dataDir + "/history-before.txt", after = dataDir + "/history-after.txt";
    removeStore(path);
    freshHistories(dataDir);
    if (!openStore(path, true) || writeTree() != kValues ||
        exportKeyToFile(before, HKEY_LOCAL_MACHINE, u"Bench").outcome != ExportOutcome::Written) {
        runner.skip(spec, "cannot make the tree");
        closeRegistryStore();
        return;
    }
    const std::string exported = readFile(before);
    runner.run(spec, [&](Stopwatch& watch) {
        {
            history::ChangeScope scope(u"delete Bench");
            if (!deleteKeyTree(HKEY_LOCAL_MACHINE, u"Bench")) return RunResult::failed("the delete failed");
        }
        resetPeakResident();
        const std::uint64_t residentBefore = peakResidentKb();
        watch.start();
        const history::UndoOutcome undone = history::undoChanges(*history::currentRecorder(), 1);
        watch.stop();
        // What the undo added to what the process held before it (the open store, the tree's export).
        const std::uint64_t peak = peakResidentKb();
        const double grownMb = static_cast<double>(peak > residentBefore ? peak - residentBefore : 0) / 1024.0;
        if (!undone.ok) return RunResult::failed(undone.error);
        if (exportKeyToFile(after, HKEY_LOCAL_MACHINE, u"Bench").outcome != ExportOutcome::Written ||
            readFile(after) != exported)
            return RunResult::failed("the export after the undo differs from the one before the delete");
        return RunResult{kValues, {}, grownMb};
    });
    closeRegistryStore();
    removeStore(path);
    std::error_code ignored;
    std::filesystem::remove(before, ignored);
    std::filesystem::remove(after, ignored);
}

void timeOpenLongHistory(BenchRunner& runner, const std::string& dataDir) {
    const CaseSpec spec{"open the store and list its history", "10,000 entries", "entries", kHistoryEntries, false};
    // Kept between runs of the benchmark: made once, one durable entry at a time.
    setenv("XDG_STATE_HOME", (dataDir + "/state").c_str(), 1);
    const std::string path = dataDir + "/history-long.db";
    if (!openStore(path, true)) {
        runner.skip(spec, "cannot open the store");
        return;
    }
    HKEY key = 0;
    RegCreateKeyExW(HKEY_CURRENT_USER, u"Long", 0, nullptr, 0, 0, nullptr, &key, nullptr);
    for (std::size_t have = history::currentRecorder()->file().list(-1).size(); have < kHistoryEntries; ++have) {
        const DWORD n = static_cast<DWORD>(have);
        RegSetValueExW(key, (u"v" + digits(have % 100)).c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&n),
                       sizeof n);
    }
    RegCloseKey(key);
    closeRegistryStore();
    runner.run(spec, [&](Stopwatch& watch) {
        watch.start();
        const bool opened = openStore(path, true);
        std::size_t listed = 0, undoable = 0;
        if (opened) {
            history::RecordingBackend& recorder = *history::currentRecorder();
            listed = recorder.file().list(-1).size();
            undoable = history::undoCandidates(recorder.file(), static_cast<std::size_t>(-1)).size();
        }
        watch.stop();
        closeRegistryStore();
        if (!opened || undoable == 0) return RunResult::failed("cannot open the history");
        return RunResult{listed, {}};
    });
}

}  // namespace

void timeHistory(BenchRunner& runner, const std::string& dataDir) {
    // The histories of the benchmark's stores stay with its data, never in the user's state folder.
    timeDurableSet(runner, dataDir);
    timeOpenLongHistory(runner, dataDir);
    timeBulkWrite(runner, dataDir);
    timeUndoOfSubtreeDelete(runner, dataDir);
}

}  // namespace tovik::bench
