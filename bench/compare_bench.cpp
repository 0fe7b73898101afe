#include "bench/compare_bench.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

#include "bench/child_process.h"
#include "registry/registry_store.h"
#include "stores/sqlite/sqlite_store.h"

namespace tovik::bench {

namespace {

constexpr std::uint64_t kChanges = 1000;
constexpr const char* kTimeProgram = "/usr/bin/time";

// The last line of time -f %M's output: the peak resident memory in KiB.
double peakKb(const std::string& errorOutput) {
    std::string text = errorOutput;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    const std::size_t start = text.rfind('\n');
    return std::strtod(text.c_str() + (start == std::string::npos ? 0 : start + 1), nullptr);
}

struct ChangedCopy {
    std::string path;
    std::uint64_t valueLines = 0;  // what the listing prints: one line per added or deleted value, two per change
    std::string error;
};

// A copy of the workload's store with kChanges changes spread evenly over HKEY_LOCAL_MACHINE's
// keys in the order of a breadth-first walk: a third of them add a value, a third change the first
// value of their key and a third delete it (keys without values get one added instead).
ChangedCopy makeChangedCopy(const Workload& w, const std::string& dataDir) {
    ChangedCopy copy;
    copy.path = dataDir + "/" + w.name + "-changed.db";
    std::error_code ec;
    for (const char* suffix : {"", "-journal", "-wal", "-shm"}) std::filesystem::remove(copy.path + suffix, ec);
    std::filesystem::copy_file(w.path, copy.path, ec);
    if (ec) {
        copy.error = "cannot copy the store: " + ec.message();
        return copy;
    }
    std::unique_ptr<Backend> store;
    const StoreOpenResult opened = openSqliteStore(copy.path, store);
    if (!opened.ok) {
        copy.error = opened.error;
        return copy;
    }
    std::vector<KeyId> keys{store->rootKey(HKEY_LOCAL_MACHINE)};
    std::vector<SubkeyEntry> children;
    for (std::size_t i = 0; i < keys.size(); ++i) {
        children.clear();
        store->listSubkeys(keys[i], 0, -1, children);
        for (const SubkeyEntry& child : children) keys.push_back(child.id);
    }
    if (keys.size() <= kChanges) {
        copy.error = "too few keys";
        return copy;
    }
    store->beginBatch();
    std::vector<ValueEntry> values;
    for (std::uint64_t i = 0; i < kChanges; ++i) {
        const KeyId key = keys[1 + i * (keys.size() - 1) / kChanges];
        const DWORD data = 0xBE000000u + static_cast<DWORD>(i);
        values.clear();
        store->listValues(key, 0, 1, values);
        const BYTE* bytes = reinterpret_cast<const BYTE*>(&data);
        if (i % 3 == 0 || values.empty()) {
            store->setValue(key, u"BenchAdded", REG_DWORD, bytes, sizeof data);
            copy.valueLines += 1;
        } else if (i % 3 == 1) {
            store->setValue(key, values.front().name, REG_DWORD, bytes, sizeof data);
            copy.valueLines += 2;
        } else {
            store->deleteValue(key, values.front().name);
            copy.valueLines += 1;
        }
    }
    if (store->commitBatch(false) != ERROR_SUCCESS) copy.error = "the changes were not kept";
    return copy;
}

// Counts the listing's value lines: "+  " and "-  " at the start of a line.
struct ValueLineCounter {
    std::uint64_t lines = 0;
    bool lineStart = true;
    std::string start;
    void operator()(std::string_view chunk) {
        for (const char c : chunk) {
            if (lineStart) start.clear();
            lineStart = c == '\n';
            if (lineStart || start.size() >= 3) continue;
            start += c;
            if (start == "+  " || start == "-  ") ++lines;
        }
    }
};

}  // namespace

void timeCompare(BenchRunner& runner, const Workload& w, const std::string& dataDir) {
    const CaseSpec spec{
        "tovik-reg diff HKLM against a copy with 1,000 changes", w.name, "value lines", 0, false, "MB peak resident"};
    if (!runner.wanted(spec)) return;
    const std::string program = TOVIK_REG_PATH;
    if (access(program.c_str(), X_OK) != 0) {
        runner.skip(spec, program + " is not built");
        return;
    }
    // tovik-reg keeps the history of the registries it opens beside the data, not in the user's folder.
    setenv("XDG_STATE_HOME", (dataDir + "/state").c_str(), 1);
    const ChangedCopy copy = makeChangedCopy(w, dataDir);
    if (!copy.error.empty()) {
        runner.skip(spec, copy.error);
        return;
    }
    CaseSpec counted = spec;
    counted.expectedItems = copy.valueLines;
    // The peak memory is the diff's own as time(1) reports it: a child spawned straight from this
    // process would count this process's peak too, since the two share memory until the exec.
    const bool timed = access(kTimeProgram, X_OK) == 0;
    std::vector<std::string> argv = {program, "--registry", w.path,   "diff", "HKEY_LOCAL_MACHINE",
                                     "--b",   "--registry", copy.path};
    if (timed) argv.insert(argv.begin(), {kTimeProgram, "-f", "%M"});
    runner.run(counted, [&](Stopwatch& watch) {
        ValueLineCounter counter;
        watch.start();
        const ChildOutcome outcome = runReadingOutput(argv, std::ref(counter));
        watch.stop();
        // diff's status: 1 when the sides differ.
        if (!outcome.ran || outcome.exitCode != 1)
            return RunResult::failed(
                outcome.ran ? "exit " + std::to_string(outcome.exitCode) + ": " + outcome.errorOutput : outcome.error);
        if (!timed) return RunResult{counter.lines, {}};
        return RunResult{counter.lines, {}, peakKb(outcome.errorOutput) / 1024.0};
    });
    std::error_code ec;
    for (const char* suffix : {"", "-journal", "-wal", "-shm"}) std::filesystem::remove(copy.path + suffix, ec);
}

}  // namespace tovik::bench
