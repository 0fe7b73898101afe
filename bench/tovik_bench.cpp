// tovik-bench: times the browser and the command line on generated registries and prints one
// table, then the ratios to the bounds that the times are judged by. Workloads S and M always
// run, L with --large; W holds the wide keys.
#include <sys/resource.h>
#include <unistd.h>

#include <QApplication>
#include <QListView>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "backup/backup_export.h"
#include "backup/backup_import.h"
#include "backup/gui/import_confirm_dlg.h"
#include "bench/bench_runner.h"
#include "bench/bench_workloads.h"
#include "bench/child_process.h"
#include "bench/compare_bench.h"
#include "bench/discover_bench.h"
#include "bench/find_rename_bench.h"
#include "bench/gui_startup.h"
#include "bench/history_bench.h"
#include "bench/hive_workload.h"
#include "bench/layout1_store.h"
#include "bench/timeline_bench.h"
#include "bench/wine_bench.h"
#include "hive_builder.h"
#include "regfile/reg_import.h"
#include "regfile/reg_text.h"
#include "registry/key_tree_ops.h"
#include "registry/registry_api.h"
#include "registry/registry_store.h"
#include "stores/open_store.h"
#include "view/tovik_view.h"

namespace {

using tovik::bench::BenchRunner;
using tovik::bench::CaseSpec;
using tovik::bench::RunResult;
using tovik::bench::Stopwatch;
using tovik::bench::Workload;

constexpr const char* kUsage =
    R"(Usage: tovik-bench [--large] [--runs N] [--data DIR] [--regenerate] [--only TEXT]... [--hive-only] [--files] [--find-rename] [--wine-only] [--discover-only] [--history-only] [--compare-only] [--times-only]

Times opening the store, filling the key tree, the browser's start-up in a process of its own
up to the painted tree (with that process's peak resident memory), filling the value list of
the wide keys, 'tovik-reg query -r' over whole stores and deleting every key under
HKEY_LOCAL_MACHINE from a copy of the store, on generated registries (S: 10,000 keys, 100,000
values; M: 100,000 keys, 1,000,000 values; W: keys with 10,000 and 100,000 values); and the
export of M into a backup file, cp of the same bytes, the import of that file and its
confirmation dialog, and the export and import of M as a .reg file of version 5; one durable set
of a value in the key of 100,000 values, the import of that key alone into a new store, and the
upgrade of a first-layout copy of M. Prints one table with the median, min and max of the runs
and the items per second; then export and import of M as multiples of cp of the same file, the
.reg export and import as multiples of the backup file's, and the start-up as a multiple of the
tree fill. M copied with hivex into a hive file (HKLM as its root) is opened read-only as
'HKLM\SOFTWARE', its tree filled and exported. Finding the last key of M and searching the data
of M; renaming a key with 100,000 keys below it. A fresh Wine prefix (made once with wineboot
when Wine is installed) opened and shown as a tree, and M as a Wine system.reg opened and saved.
Discovering the registries of a home with 50 launcher prefixes and a Steam library of 200 games
(target: under 0.5 s). The change history: a bulk write of M's size and a durable set, each with
and without recording; undoing the delete of a subtree of M's size (its export checked byte for
byte against the one before); opening a store whose history holds 10,000 entries. tovik-reg diff
of M (and of L with --large) against a copy with 1,000 scattered changes, with its peak resident
memory (targets: M under 2 s and 100 MB, L under 10 s and 200 MB). Key times: 'tovik-reg timeline'
of M and L as hives beside reglookup-timeline on the same files (target for L: under 3 s and within
2x), 'tovik-reg find --since' over M (target: under 1 s).

  --find-rename  only the find and rename rows
  --wine-only    only the Wine prefix rows
  --discover-only  only the discovery row
  --history-only   only the change history's rows
  --compare-only   only the comparison's rows (with --large, L's too)
  --times-only   only the key times' rows: tovik-reg timeline of M as a hive (and of L with
                 --large) beside reglookup-timeline on the same file, tovik-reg find --since of M
  --large        also workload L (700,000 keys, 1,200,000 values); takes minutes
  --files        only the rows of the files of M (backup and .reg export and import)
  --runs N       timed runs per case after one warm-up (default 5; slow cases at most 3)
  --data DIR     where the generated stores are kept (default )" TOVIK_BENCH_DATA_DIR R"()
  --regenerate   generate the stores again even when the cached ones match
  --only TEXT    run only the cases whose operation or workload contains TEXT (repeatable)
  --hive-only    only the hive file cases (M as a hive)

DIR/medians.tsv receives the medians of the run, for bench/peers.sh to compare with: one line
per case that ran, with tab-separated operation, workload, median seconds, runs and items;
lines starting with '#' are comments. The sizes of the stores follow the table.
)";

// The operations that the ratios after the table refer to.
constexpr const char* kFillTree = "fill tree (OnInitialUpdate)";
constexpr const char* kStartup = "GUI start-up to painted tree";
constexpr const char* kExport = "export HKLM (walk, write, fsync, rename)";
constexpr const char* kImport = "import (read, split, write into a new store)";
constexpr const char* kRegExport = "export HKLM as .reg v5 (walk, write, fsync, rename)";
constexpr const char* kRegImport = "import .reg v5 (read, decode, write into a new store)";
constexpr const char* kCopy = "cp of the exported file";
constexpr const char* kCopySync = "cp + sync of the copy";

constexpr int kSlowRuns = 3;
constexpr double kSlowSeconds = 2.0;
constexpr std::size_t kRootItems = 3;  // the three roots above the generated keys

std::string loadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string one, five;
    in >> one >> five;
    return one.empty() ? "unknown" : one + " (1 min), " + five + " (5 min)";
}

// The store is the process's current one while the body runs.
template <class Body>
void withStore(BenchRunner& runner, const CaseSpec& spec, const Workload& workload, Body body) {
    const tovik::StoreOpenResult opened = tovik::openRegistryStore(workload.path);
    if (!opened.ok) {
        runner.skip(spec, opened.error);
        return;
    }
    runner.run(spec, body);
    tovik::closeRegistryStore();
}

void timeOpen(BenchRunner& runner, const Workload& w) {
    runner.run({"open store", w.name, "keys", w.keys, false}, [&](Stopwatch& watch) {
        watch.start();
        const tovik::StoreOpenResult opened = tovik::openRegistryStore(w.path);
        watch.stop();
        tovik::closeRegistryStore();
        return opened.ok ? RunResult{w.keys, {}} : RunResult::failed(opened.error);
    });
}

void timeTreeFill(BenchRunner& runner, const Workload& w) {
    const CaseSpec spec{kFillTree, w.name, "keys", w.keys};
    withStore(runner, spec, w, [&](Stopwatch& watch) {
        CTovikView view;
        view.resize(240, 294);
        watch.start();
        view.OnInitialUpdate();
        watch.stop();
        return RunResult{view.treeModel().itemCount() - kRootItems, {}};
    });
}

// From spawning a fresh tovik-bench in its start-up role to its exit: Qt, the window, the store,
// the whole tree filled and painted, the caution answered. Its peak resident memory goes with it.
void timeStartup(BenchRunner& runner, const Workload& w, const std::string& self) {
    const CaseSpec spec{kStartup, w.name, "keys", w.keys, false, "MB peak resident"};
    runner.run(spec, [&](Stopwatch& watch) {
        std::string error;
        const std::string folder = tovik::bench::makeStartupFolder(w.path, error);
        if (folder.empty()) return RunResult::failed(error);
        std::string report;
        watch.start();
        const tovik::bench::ChildOutcome outcome =
            tovik::bench::runReadingOutput({self, std::string(tovik::bench::kStartupChildArgument), folder},
                                           [&](std::string_view chunk) { report += chunk; });
        watch.stop();
        tovik::bench::removeStartupFolder(folder);
        if (!outcome.succeeded()) {
            return RunResult::failed(
                outcome.ran ? "exit " + std::to_string(outcome.exitCode) + ": " + outcome.errorOutput : outcome.error);
        }
        const std::optional<tovik::bench::StartupReport> parsed = tovik::bench::parseStartupReport(report);
        if (!parsed || parsed->treeItems < kRootItems) return RunResult::failed("no start-up report: " + report);
        return RunResult{parsed->treeItems - kRootItems, {}, parsed->peakResidentKb / 1024.0};
    });
}

void timeValueList(BenchRunner& runner, const Workload& w, std::uint32_t valueCount) {
    const CaseSpec spec{"FillValueList", "key of " + tovik::bench::formatCount(valueCount), "rows", valueCount};
    withStore(runner, spec, w, [&](Stopwatch& watch) {
        CTovikView view;
        view.resize(240, 294);
        view.OnInitialUpdate();
        if (!view.goToKey(HKEY_LOCAL_MACHINE, tovik::bench::wideKeyName(valueCount)))
            return RunResult::failed("the wide key is not in the tree");
        watch.start();
        view.FillValueList();
        watch.stop();
        return RunResult{static_cast<std::uint64_t>(view.listModel().valueCount()), {}};
    });
}

// Counts key lines ("[...]") and value lines ('"name"=' or '@=') of a query's output.
struct LineCounter {
    std::uint64_t keys = 0, values = 0;
    bool atLineStart = true;
    void operator()(std::string_view chunk) {
        for (const char c : chunk) {
            if (atLineStart) {
                if (c == '[')
                    ++keys;
                else if (c == '"' || c == '@')
                    ++values;
            }
            atLineStart = c == '\n';
        }
    }
};

void timeQuery(BenchRunner& runner, const Workload& w) {
    const CaseSpec spec{"tovik-reg query -r > /dev/null", w.name, "keys+values", w.keys + w.values};
    if (!runner.wanted(spec)) return;
    const std::string program = TOVIK_REG_PATH;
    if (access(program.c_str(), X_OK) != 0) {
        runner.skip(spec, program + " is not built");
        return;
    }
    const std::vector<std::string> argv = {program, "--registry", w.path, "query", "HKEY_LOCAL_MACHINE", "-r"};
    // Once with the output read, to know that the timed runs print the whole store.
    LineCounter counter;
    const tovik::bench::ChildOutcome checked = tovik::bench::runReadingOutput(argv, std::ref(counter));
    if (!checked.succeeded()) {
        runner.skip(spec, checked.ran ? "exit " + std::to_string(checked.exitCode) + ": " + checked.errorOutput
                                      : checked.error);
        return;
    }
    if (counter.keys != w.keys + 1 || counter.values != w.values) {
        runner.skip(spec, "printed " + tovik::bench::formatCount(counter.keys) + " key lines and " +
                              tovik::bench::formatCount(counter.values) + " value lines");
        return;
    }
    runner.run(spec, [&](Stopwatch& watch) {
        watch.start();
        const tovik::bench::ChildOutcome outcome = tovik::bench::runDiscardingOutput(argv);
        watch.stop();
        if (!outcome.succeeded())
            return RunResult::failed(outcome.ran ? "exit " + std::to_string(outcome.exitCode) : outcome.error);
        return RunResult{w.keys + w.values, {}};
    });
}

void removeStoreFiles(const std::string& store) {
    std::error_code ignored;
    for (const char* suffix : {"", "-journal", "-wal", "-shm"}) std::filesystem::remove(store + suffix, ignored);
}

// True when HKEY_LOCAL_MACHINE has no subkey left.
bool machineRootIsEmpty() {
    char16_t name[256];
    DWORD length = 256;
    return RegEnumKeyExW(HKEY_LOCAL_MACHINE, 0, name, &length, nullptr, nullptr, nullptr, nullptr) ==
           ERROR_NO_MORE_ITEMS;
}

// Delete Key on HKEY_LOCAL_MACHINE's whole subtree, on a copy of the store made for each run.
void timeDeleteSubtree(BenchRunner& runner, const Workload& w) {
    const CaseSpec spec{"delete every key under HKLM (subtree)", w.name, "keys", w.keys};
    const std::string copy = w.path + ".delete.db";
    runner.run(spec, [&](Stopwatch& watch) {
        removeStoreFiles(copy);
        // The workload's store was closed cleanly, so it has no WAL; should another process hold
        // it open, its WAL is copied too, so that the copy has every key.
        std::error_code ec;
        std::filesystem::copy_file(w.path, copy, ec);
        if (!ec && std::filesystem::exists(w.path + "-wal"))
            std::filesystem::copy_file(w.path + "-wal", copy + "-wal", ec);
        if (ec) {
            removeStoreFiles(copy);
            return RunResult::failed("cannot copy the store: " + ec.message());
        }
        const tovik::StoreOpenResult opened = tovik::openRegistryStore(copy);
        if (!opened.ok) {
            removeStoreFiles(copy);
            return RunResult::failed(opened.error);
        }
        watch.start();
        const DeleteSubkeysResult result = DeleteSubkeys(HKEY_LOCAL_MACHINE, u"");
        watch.stop();
        const bool emptied = machineRootIsEmpty();
        tovik::closeRegistryStore();
        removeStoreFiles(copy);
        if (result.failed != 0) return RunResult::failed(tovik::bench::formatCount(result.failed) + " keys stayed");
        if (!emptied) return RunResult::failed("HKEY_LOCAL_MACHINE still has subkeys");
        return RunResult{result.deleted, {}};
    });
}

// ---- Backup files: export, import, the confirmation and the bound that cp sets ----

std::uint64_t fileSize(const std::string& path) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    return ec ? 0 : static_cast<std::uint64_t>(size);
}

std::string megabytes(std::uint64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MB", bytes / 1e6);
    return text;
}

// The hive copy of a workload, opened read-only as HKLM\SOFTWARE.
tovik::StoreOpenResult openHive(const tovik::bench::HiveWorkload& hive) {
    tovik::RegistrySource source;
    source.kind = tovik::RegistrySource::Kind::Hive;
    source.path = hive.path;
    source.mountAs = "HKLM\\SOFTWARE";
    return tovik::openRegistry(source);
}

// The workload column of a hive's rows.
std::string hiveLabel(const Workload& w, const tovik::bench::HiveWorkload& hive) {
    char label[64];
    std::snprintf(label, sizeof label, "%s as hive, %.0f MB", w.name.c_str(), hive.bytes / 1e6);
    return label;
}

void timeHive(BenchRunner& runner, const Workload& w, const tovik::bench::HiveWorkload& hive) {
    const std::string label = hiveLabel(w, hive);
    runner.run({"open hive file (hivex)", label, "keys", hive.keys, false}, [&](Stopwatch& watch) {
        watch.start();
        const tovik::StoreOpenResult opened = openHive(hive);
        watch.stop();
        tovik::closeRegistryStore();
        return opened.ok ? RunResult{hive.keys, {}} : RunResult::failed(opened.error);
    });
    // From opening the file to the filled tree: what the user waits for.
    runner.run({"open hive + fill tree", label, "keys", hive.keys}, [&](Stopwatch& watch) {
        watch.start();
        const tovik::StoreOpenResult opened = openHive(hive);
        if (!opened.ok) return RunResult::failed(opened.error);
        CTovikView view;
        view.resize(240, 294);
        view.OnInitialUpdate();
        watch.stop();
        const std::uint64_t items = view.treeModel().itemCount() - kRootItems - 1;  // SOFTWARE itself
        tovik::closeRegistryStore();
        return RunResult{items, {}};
    });
    const std::string target = hive.path + ".export.txt";
    runner.run({"export hive (walk, write, fsync, rename)", label, "values", hive.values}, [&](Stopwatch& watch) {
        const tovik::StoreOpenResult opened = openHive(hive);
        if (!opened.ok) return RunResult::failed(opened.error);
        watch.start();
        const tovik::ExportResult result = tovik::exportKeyToFile(target, HKEY_LOCAL_MACHINE, u"SOFTWARE");
        watch.stop();
        tovik::closeRegistryStore();
        if (result.outcome != tovik::ExportOutcome::Written) return RunResult::failed("export ended early");
        return RunResult{result.values, {}};
    });
    std::error_code ec;
    std::filesystem::remove(target, ec);
}

// Export of the whole workload through the GUI's and tovik-reg's code: walk, format, write,
// fsync and rename. Returns the file written, empty when the export did not run.
std::string timeExport(BenchRunner& runner, const Workload& w,
                       tovik::ExportFileFormat format = tovik::ExportFileFormat::Backup) {
    const bool reg = format != tovik::ExportFileFormat::Backup;
    const std::string target = w.path + (reg ? ".export.reg" : ".export.txt");
    const CaseSpec spec{reg ? kRegExport : kExport, w.name, "values", w.values};
    bool written = false;
    withStore(runner, spec, w, [&](Stopwatch& watch) {
        watch.start();
        const tovik::ExportResult result = tovik::exportKeyToFile(target, HKEY_LOCAL_MACHINE, u"", format);
        watch.stop();
        if (result.outcome != tovik::ExportOutcome::Written) return RunResult::failed("export ended early");
        if (result.keys != w.keys + 1)
            return RunResult::failed("wrote " + tovik::bench::formatCount(result.keys) + " keys");
        written = true;
        return RunResult{result.values, {}};
    });
    return written ? target : std::string();
}

// An import of file into a new, empty store: importFile reads and writes it (timed) and says how
// it went.
void timeImportIntoNewStore(BenchRunner& runner, const CaseSpec& spec, const Workload& w, const std::string& file,
                            const std::function<RunResult()>& importFile) {
    if (file.empty()) {
        runner.skip(spec, "no exported file");
        return;
    }
    const std::string store = w.path + ".import.db";
    runner.run(spec, [&](Stopwatch& watch) {
        removeStoreFiles(store);
        const tovik::StoreOpenResult opened = tovik::openRegistryStore(store);
        if (!opened.ok) return RunResult::failed(opened.error);
        watch.start();
        RunResult result = importFile();
        watch.stop();
        tovik::closeRegistryStore();
        removeStoreFiles(store);
        return result;
    });
}

// Import of that file into a new, empty store, as tovik-reg import does it: read, split, write.
void timeImport(BenchRunner& runner, const Workload& w, const std::string& file, const std::string& label,
                std::uint64_t values) {
    timeImportIntoNewStore(runner, {kImport, label, "values", values}, w, file, [&] {
        const std::optional<tovik::BackupFileLines> lines = tovik::readBackupFileAt(file);
        if (!lines) return RunResult::failed("cannot read " + file);
        const tovik::ImportResult result = tovik::importBackupLines(lines->lines);
        if (result.outcome != tovik::ImportOutcome::Finished || result.linesSkipped() != 0)
            return RunResult::failed("import ended early or skipped lines");
        return RunResult{result.valuesWritten, {}};
    });
}

// The same for the .reg file: read, decode, write; any skipped or failed line fails the case.
void timeRegImport(BenchRunner& runner, const Workload& w, const std::string& file, const std::string& label) {
    timeImportIntoNewStore(runner, {kRegImport, label, "values", w.values}, w, file, [&] {
        const std::optional<tovik::RegFileText> text = tovik::readRegFileAt(file);
        if (!text) return RunResult::failed("cannot read " + file);
        const tovik::RegFileImportReport report = tovik::importRegFileText(text->text);
        if (report.skipped() != 0 || report.failed() != 0 || report.valuesWritten != w.values)
            return RunResult::failed("import skipped or failed lines");
        return RunResult{report.valuesWritten, {}};
    });
}

// The confirmation dialog with every line of the file: shown and painted once.
void timeConfirmation(BenchRunner& runner, const Workload& w, const std::string& file, const std::string& label) {
    const std::uint64_t lineCount = w.keys + 1 + w.values + 2;  // key lines, value lines, header, root line
    const CaseSpec spec{"import confirmation: show and paint", label, "lines", lineCount};
    if (!runner.wanted(spec)) return;
    const std::optional<tovik::BackupFileLines> read = file.empty() ? std::nullopt : tovik::readBackupFileAt(file);
    if (!read) {
        runner.skip(spec, "no exported file");
        return;
    }
    const tovik::BackupText& lines = read->lines;
    runner.run(spec, [&](Stopwatch& watch) {
        watch.start();
        CImportConfirmDlg dialog;
        dialog.m_pLines = &lines;
        dialog.show();
        dialog.m_listLines->scrollToBottom();
        dialog.grab();  // paints the visible rows
        watch.stop();
        return RunResult{static_cast<std::uint64_t>(dialog.m_listLines->model()->rowCount()), {}};
    });
}

// The bound to compare with: the same bytes copied by cp, and by cp then sync of the copy.
void timeCopy(BenchRunner& runner, const std::string& file, const std::string& label) {
    const std::uint64_t bytes = fileSize(file);
    const std::string copy = file + ".copy";
    const std::vector<std::pair<std::string, std::vector<std::string>>> commands = {
        {kCopy, {"/bin/cp", file, copy}},
        {kCopySync, {"/bin/sh", "-c", "cp \"$0\" \"$1\" && sync \"$1\"", file, copy}},
    };
    for (const auto& [operation, argv] : commands) {
        const CaseSpec spec{operation, label, "bytes", bytes};
        if (file.empty()) {
            runner.skip(spec, "no exported file");
            continue;
        }
        runner.run(spec, [&, &argv = argv](Stopwatch& watch) {
            std::error_code ignored;
            std::filesystem::remove(copy, ignored);
            watch.start();
            const tovik::bench::ChildOutcome outcome = tovik::bench::runDiscardingOutput(argv);
            watch.stop();
            if (!outcome.succeeded()) return RunResult::failed(outcome.ran ? outcome.errorOutput : outcome.error);
            return RunResult{fileSize(copy), {}};
        });
    }
    std::error_code ignored;
    std::filesystem::remove(copy, ignored);
}

// One durable set of a new value in the key of valueCount values; the value is deleted again
// after each run, so that the key keeps its content for the other cases.
void timeSetInWideKey(BenchRunner& runner, const Workload& w, std::uint32_t valueCount) {
    const CaseSpec spec{"set a new value (durable)", "key of " + tovik::bench::formatCount(valueCount), "values", 1,
                        false};
    if (!runner.wanted(spec)) return;
    withStore(runner, spec, w, [&](Stopwatch& watch) {
        HKEY key = 0;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, tovik::bench::wideKeyName(valueCount).c_str(), 0, 0, &key) !=
            ERROR_SUCCESS)
            return RunResult::failed("no wide key");
        const std::u16string name = u"tovik-bench new value";
        const DWORD data = 42;
        watch.start();
        const LONG rc =
            RegSetValueExW(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof data);
        watch.stop();
        const LONG removed = RegDeleteValueW(key, name.c_str());
        RegCloseKey(key);
        if (rc != ERROR_SUCCESS || removed != ERROR_SUCCESS) return RunResult::failed("set or delete failed");
        return RunResult{1, {}};
    });
}

// The wide key of valueCount values exported alone, then imported into a new store.
void timeImportOfWideKey(BenchRunner& runner, const Workload& w, std::uint32_t valueCount) {
    const std::string label = "key of " + tovik::bench::formatCount(valueCount);
    if (!runner.wanted({kImport, label, "values", valueCount})) return;
    const std::string file = w.path + ".wide.txt";
    bool exported = false;
    if (tovik::openRegistryStore(w.path).ok) {
        const tovik::ExportResult result =
            tovik::exportKeyToFile(file, HKEY_LOCAL_MACHINE, tovik::bench::wideKeyName(valueCount));
        exported = result.outcome == tovik::ExportOutcome::Written && result.values == valueCount;
        tovik::closeRegistryStore();
    }
    timeImport(runner, w, exported ? file : std::string(), label, valueCount);
    std::error_code ignored;
    std::filesystem::remove(file, ignored);
}

// The first open of a first-layout copy of the workload's store, which upgrades it in place.
void timeUpgrade(BenchRunner& runner, const Workload& w) {
    const CaseSpec spec{"open a first-layout store (upgrade)", w.name, "keys", w.keys, false};
    if (!runner.wanted(spec)) return;
    const std::string old = w.path + ".layout1.db";
    const std::string copy = w.path + ".upgrade.db";
    removeStoreFiles(old);
    std::string error;
    if (!tovik::bench::writeLayout1Copy(w.path, old, error)) {
        runner.skip(spec, "cannot write the first-layout copy: " + error);
        removeStoreFiles(old);
        return;
    }
    runner.run(spec, [&](Stopwatch& watch) {
        removeStoreFiles(copy);
        std::error_code ec;
        std::filesystem::copy_file(old, copy, ec);
        if (!ec && std::filesystem::exists(old + "-wal")) std::filesystem::copy_file(old + "-wal", copy + "-wal", ec);
        if (ec) return RunResult::failed("cannot copy the store: " + ec.message());
        watch.start();
        const tovik::StoreOpenResult opened = tovik::openRegistryStore(copy);
        watch.stop();
        tovik::closeRegistryStore();
        removeStoreFiles(copy);
        return opened.ok ? RunResult{w.keys, {}} : RunResult::failed(opened.error);
    });
    removeStoreFiles(old);
}

// The size of each store file as the benchmark found it (closed cleanly: no WAL).
void printStoreSizes(const std::vector<Workload>& workloads) {
    std::printf("\nStore sizes:");
    for (const Workload& w : workloads) {
        std::uint64_t bytes = 0;
        for (const char* suffix : {"", "-wal"}) bytes += fileSize(w.path + suffix);
        std::printf(" %s %s;", w.name.c_str(), megabytes(bytes).c_str());
    }
    std::printf("\n");
}

// Returns the workload label of the rows about the file.
std::string timeBackupFiles(BenchRunner& runner, const Workload& w) {
    const std::string label0 = w.name + ", ";
    if (!runner.wanted({kExport, w.name, "", 0}) && !runner.wanted({kImport, label0, "", 0}) &&
        !runner.wanted({kCopy, label0, "", 0}) &&
        !runner.wanted({"import confirmation: show and paint", label0, "", 0}))
        return {};
    const std::string file = timeExport(runner, w);
    const std::string label = w.name + ", " + megabytes(fileSize(file)) + " file";
    timeCopy(runner, file, label);
    timeImport(runner, w, file, label, w.values);
    timeConfirmation(runner, w, file, label);
    if (!file.empty()) {
        std::error_code ignored;
        std::filesystem::remove(file, ignored);
    }
    return label;
}

// Returns the workload label of the import row.
std::string timeRegFiles(BenchRunner& runner, const Workload& w) {
    const std::string file = timeExport(runner, w, tovik::ExportFileFormat::Reg);
    const std::string label = w.name + ", " + megabytes(fileSize(file)) + " .reg file";
    timeRegImport(runner, w, file, label);
    if (!file.empty()) {
        std::error_code ignored;
        std::filesystem::remove(file, ignored);
    }
    return label;
}

// Export and import of M as multiples of cp of the same file, the .reg file's as multiples of the
// backup file's, and start-up beyond the tree fill.
void printBounds(const BenchRunner& runner, const std::vector<Workload>& trees, const std::string& backupLabel,
                 const std::string& regLabel, const std::string& largeHiveLabel) {
    std::printf("\nRatios (medians of this run):\n");
    auto ratio = [](const char* name, std::optional<double> time, std::optional<double> bound) {
        if (time && bound && *bound > 0)
            std::printf("  %s = %.1fx (%s / %s)\n", name, *time / *bound, tovik::bench::formatDuration(*time).c_str(),
                        tovik::bench::formatDuration(*bound).c_str());
        else
            std::printf("  %s: not measured\n", name);
    };
    const std::optional<double> exported = runner.median(kExport, "M");
    const std::optional<double> imported = runner.median(kImport, backupLabel);
    const std::optional<double> copied = runner.median(kCopy, backupLabel);
    const std::optional<double> synced = runner.median(kCopySync, backupLabel);
    ratio("export M / cp", exported, copied);
    ratio("export M / (cp + sync)", exported, synced);
    ratio("import M / cp", imported, copied);
    ratio("import M / (cp + sync)", imported, synced);
    ratio(".reg v5 export M / backup export M", runner.median(kRegExport, "M"), exported);
    ratio(".reg v5 import M / backup import M", runner.median(kRegImport, regLabel), imported);
    for (const Workload& w : trees) {
        const std::string name = "GUI start-up / fill tree, " + w.name;
        ratio(name.c_str(), runner.median(kStartup, w.name), runner.median(kFillTree, w.name));
    }
    using tovik::bench::kTimelineOperation;
    ratio("timeline L hive / reglookup-timeline", runner.median(kTimelineOperation, largeHiveLabel),
          runner.median(tovik::bench::kPeerTimelineOperation, largeHiveLabel));
    ratio("timeline L hive / its 3 s target", runner.median(kTimelineOperation, largeHiveLabel), 3.0);
    ratio("find --since M / its 1 s target", runner.median(tovik::bench::kFindSinceOperation, "M"), 1.0);
    ratio("discover registries / its 0.5 s target",
          runner.median(tovik::bench::kDiscoverOperation, tovik::bench::kDiscoverWorkload), 0.5);
}

// The medians for bench/peers.sh; a failure to write them costs only the peer ratios.
void writeMedians(const BenchRunner& runner, const std::string& dataDir) {
    const std::string path = dataDir + "/medians.tsv";
    std::FILE* out = std::fopen(path.c_str(), "w");
    if (out) {
        std::fprintf(out, "# operation\tworkload\tmedian seconds\truns\titems\n");
        runner.writeMedians(out);
    }
    if (!out || std::fclose(out) != 0) std::fprintf(stderr, "tovik-bench: cannot write %s\n", path.c_str());
}

bool parseCount(std::string_view text, int& out) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && end == text.data() + text.size() && out > 0 && out <= 1000;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && argv[1] == tovik::bench::kStartupChildArgument) tovik::bench::runStartupChild(argv[2]);
    if (argc >= 3 && argv[1] == tovik::bench::kPeakMemoryChildArgument)
        return tovik::bench::peakMemoryChildMain(std::vector<std::string>(argv + 2, argv + argc));
    bool large = false, regenerate = false, hiveOnly = false, filesOnly = false, findRenameOnly = false,
         historyOnly = false, compareOnly = false;
    bool wineOnly = false, discoverOnly = false, timesOnly = false;
    int runs = 5;
    std::vector<std::string> only;
    std::string dataDir = TOVIK_BENCH_DATA_DIR;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (arg == "--find-rename") {
            findRenameOnly = true;
        } else if (arg == "--wine-only") {
            wineOnly = true;
        } else if (arg == "--discover-only") {
            discoverOnly = true;
        } else if (arg == "--history-only") {
            historyOnly = true;
        } else if (arg == "--compare-only") {
            compareOnly = true;
        } else if (arg == "--times-only") {
            timesOnly = true;
        } else if (arg == "--large") {
            large = true;
        } else if (arg == "--files") {
            filesOnly = true;
        } else if (arg == "--regenerate") {
            regenerate = true;
        } else if (arg == "--hive-only") {
            hiveOnly = true;
        } else if (arg == "--runs" && i + 1 < argc && parseCount(argv[i + 1], runs)) {
            ++i;
        } else if (arg == "--only" && i + 1 < argc && argv[i + 1][0] != '\0') {
            only.push_back(argv[++i]);
        } else if (arg == "--data" && i + 1 < argc && argv[i + 1][0] != '\0') {
            dataDir = argv[++i];
        } else {
            std::fprintf(stderr, "tovik-bench: bad argument \"%s\".\nTry 'tovik-bench --help'.\n", argv[i]);
            return 2;
        }
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 0);  // a benchmark needs no screen
    QApplication app(argc, argv);

    if (historyOnly) {
        BenchRunner runner(runs, kSlowRuns, kSlowSeconds);
        runner.setFilter(only);
        std::filesystem::create_directories(dataDir);
        tovik::bench::timeHistory(runner, dataDir);
        runner.print(stdout);
        bool allRan = true;
        for (const auto& row : runner.rows()) allRan = allRan && row.problem.empty();
        return allRan ? 0 : 1;
    }
    if (wineOnly || discoverOnly) {
        BenchRunner runner(runs, kSlowRuns, kSlowSeconds);
        if (wineOnly) tovik::bench::timeWinePrefixes(runner, dataDir, regenerate);
        if (discoverOnly) tovik::bench::timeDiscovery(runner, dataDir);
        runner.print(stdout);
        bool allRan = true;
        for (const auto& row : runner.rows()) allRan = allRan && row.problem.empty();
        return allRan ? 0 : 1;
    }
    std::vector<std::string> presets = {"S", "M"};
    if (large) presets.push_back("L");
    std::vector<Workload> trees;
    for (const std::string& preset : presets) {
        std::string error;
        const auto workload = tovik::bench::prepareWorkload(dataDir, preset, regenerate, error);
        if (!workload) {
            std::fprintf(stderr, "tovik-bench: workload %s: %s\n", preset.c_str(), error.c_str());
            return 1;
        }
        trees.push_back(*workload);
    }
    std::string error;
    const auto wide = tovik::bench::prepareWorkload(dataDir, "W", regenerate, error);
    if (!wide) {
        std::fprintf(stderr, "tovik-bench: workload W: %s\n", error.c_str());
        return 1;
    }

    std::error_code ec;
    const std::string self = std::filesystem::read_symlink("/proc/self/exe", ec).string();
    if (ec) {
        std::fprintf(stderr, "tovik-bench: cannot find its own program file: %s\n", ec.message().c_str());
        return 1;
    }

    // Medians of an earlier run must not pass for this run's should it end early.
    std::filesystem::remove(dataDir + "/medians.tsv", ec);

    const std::string loadBefore = loadAverage();
    BenchRunner runner(runs, kSlowRuns, kSlowSeconds);
    runner.setFilter(only);
    std::fprintf(stderr, "Timing:\n");
    if (compareOnly) {
        for (const Workload& w : trees)
            if (w.name != "S") tovik::bench::timeCompare(runner, w, dataDir);
        std::printf("Machine: %ld CPUs; load average %s before, %s after\n\n", sysconf(_SC_NPROCESSORS_ONLN),
                    loadBefore.c_str(), loadAverage().c_str());
        runner.print(stdout);
        bool allRan = true;
        for (const auto& row : runner.rows()) allRan = allRan && row.problem.empty();
        return allRan ? 0 : 1;
    }
    if (findRenameOnly) {
        for (const Workload& w : trees)
            if (w.name == "M") tovik::bench::timeFind(runner, w);
        tovik::bench::timeRenameSubtree(runner, dataDir);
        runner.print(stdout);
        return 0;
    }
    std::string largeHiveLabel;
    for (const Workload& w : trees) {
        if ((w.name != "M" && w.name != "L") || filesOnly || findRenameOnly) continue;
        if (w.name == "L" && hiveOnly) continue;
        tovik::bench::HiveWorkload hive;
        const auto empty = [](const std::string& path) {
            tovik::hive::testing::writeFile(path, tovik::hive::testing::emptyHiveBytes());
        };
        if (!tovik::bench::prepareHiveWorkload(w, empty, hive, error)) {
            std::fprintf(stderr, "tovik-bench: hive of %s: %s\n", w.name.c_str(), error.c_str());
            return 1;
        }
        if (hive.generatedSeconds > 0)
            std::fprintf(stderr, "hive of %s made with hivex in %.1f s: %.1f MB, %llu keys, %llu values\n",
                         w.name.c_str(), hive.generatedSeconds, hive.bytes / 1e6,
                         static_cast<unsigned long long>(hive.keys), static_cast<unsigned long long>(hive.values));
        const std::string label = hiveLabel(w, hive);
        if (w.name == "M" && !timesOnly) timeHive(runner, w, hive);
        if (!hiveOnly) tovik::bench::timeTimeline(runner, hive, label, TOVIK_REG_PATH);
        if (w.name == "L") largeHiveLabel = label;
        if (w.name == "M" && !hiveOnly) tovik::bench::timeFindSince(runner, w, TOVIK_REG_PATH);
    }
    if (hiveOnly || timesOnly) {
        std::printf("Machine: %ld CPUs; load average %s before, %s after\n\n", sysconf(_SC_NPROCESSORS_ONLN),
                    loadBefore.c_str(), loadAverage().c_str());
        runner.print(stdout);
        if (timesOnly) printBounds(runner, trees, {}, {}, largeHiveLabel);
        return 0;
    }
    if (!filesOnly) {
        for (const Workload& w : trees) timeOpen(runner, w);
        timeOpen(runner, *wide);
        for (const Workload& w : trees) timeTreeFill(runner, w);
        for (const Workload& w : trees) timeStartup(runner, w, self);
        for (const std::uint32_t count : wide->options.wideKeys) timeValueList(runner, *wide, count);
        for (const std::uint32_t count : wide->options.wideKeys) timeSetInWideKey(runner, *wide, count);
        timeImportOfWideKey(runner, *wide, wide->options.wideKeys.back());
        for (const Workload& w : trees) timeQuery(runner, w);
        for (const Workload& w : trees) timeDeleteSubtree(runner, w);
        tovik::bench::timeHistory(runner, dataDir);
        for (const Workload& w : trees)
            if (w.name == "M") tovik::bench::timeFind(runner, w);
        tovik::bench::timeRenameSubtree(runner, dataDir);
        for (const Workload& w : trees)
            if (w.name != "S") tovik::bench::timeCompare(runner, w, dataDir);
    }
    std::string backupLabel, regLabel;
    for (const Workload& w : trees) {
        if (w.name != "M") continue;
        backupLabel = timeBackupFiles(runner, w);
        regLabel = timeRegFiles(runner, w);
        if (!filesOnly) timeUpgrade(runner, w);
    }
    if (!filesOnly) tovik::bench::timeWinePrefixes(runner, dataDir, regenerate);
    if (!filesOnly) tovik::bench::timeDiscovery(runner, dataDir);

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("Tovik benchmarks: wall-clock median, min and max of the runs after one warm-up (slow cases: "
                "at most %d runs)\n",
                kSlowRuns);
    std::printf("Machine: %ld CPUs; load average %s before, %s after; peak resident memory of tovik-bench %ld MB\n\n",
                sysconf(_SC_NPROCESSORS_ONLN), loadBefore.c_str(), loadAverage().c_str(), usage.ru_maxrss / 1024);
    runner.print(stdout);
    std::vector<Workload> all = trees;
    all.push_back(*wide);
    printStoreSizes(all);
    printBounds(runner, trees, backupLabel, regLabel, largeHiveLabel);
    writeMedians(runner, dataDir);
    bool allRan = true;
    for (const auto& row : runner.rows()) allRan = allRan && row.problem.empty();
    return allRan ? 0 : 1;
}
