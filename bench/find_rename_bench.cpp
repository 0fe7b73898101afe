#include "bench/find_rename_bench.h"

#include <filesystem>
#include <utility>

#include "find/registry_find.h"
#include "registry/registry_api.h"
#include "registry/registry_store.h"
#include "stores/open_store.h"

namespace tovik::bench {

namespace {

using find::FindDirection;
using find::FindOptions;
using find::FindStart;
using find::FindStatus;
using find::RegistryFind;

constexpr std::uint64_t kRenameKeys = 100'000;
constexpr int kRenameFanOut = 1'000;  // 100 keys of 1,000 subkeys each

void removeStore(const std::string& path) {
    std::error_code ignored;
    for (const char* suffix : {"", "-journal", "-wal", "-shm"}) std::filesystem::remove(path + suffix, ignored);
}

// The keys and values below root\path, and whether every value of the subtree is the one written.
struct SubtreeCount {
    std::uint64_t keys = 0;
    std::uint64_t values = 0;
};

SubtreeCount countSubtree(HKEY root, const std::u16string& path) {
    FindOptions all;
    all.scopeRoot = root;
    all.scopePath = path;
    all.data = false;
    RegistryFind walk = RegistryFind::findAll(all, SIZE_MAX);  // the empty text matches every item
    find::runFind(walk);
    SubtreeCount count;
    for (const find::FindHit& hit : walk.hits()) (hit.isValueHit() ? count.values : count.keys) += 1;
    return count;
}

}  // namespace

void timeFind(BenchRunner& runner, const Workload& w) {
    if (!openRegistryStore(w.path).ok) return;
    // The last key of the walk, found once backward: the text the forward search is timed on.
    FindOptions keys;
    keys.valueNames = keys.data = false;
    RegistryFind last(keys, FindDirection::Previous, FindStart::edge());
    find::runFind(last);
    closeRegistryStore();
    if (last.status() != FindStatus::Found) return;
    const std::u16string lastName = last.hit().text;

    const CaseSpec lastKey{"find the last key (key names)", w.name, "keys", 1, false};
    runner.run(lastKey, [&](Stopwatch& watch) {
        if (!openRegistryStore(w.path).ok) return RunResult::failed("cannot open the store");
        FindOptions options = keys;
        options.text = lastName;
        options.wholeMatch = true;
        options.matchCase = true;
        watch.start();
        RegistryFind search(options, FindDirection::Next, FindStart::edge());
        const FindStatus status = find::runFind(search);
        watch.stop();
        const bool found = status == FindStatus::Found && search.hit().path == last.hit().path;
        closeRegistryStore();
        return found ? RunResult{1, {}} : RunResult::failed("the last key was not found");
    });

    // Data texts that no value shows: one that no hexadecimal form or number can hold, one that
    // could stand in the hexadecimal form of binary data, and digits that numbers could show too.
    const std::pair<const char*, std::u16string> dataSearches[] = {
        {"find in data (nothing found)", u"\u2603 text in no value"},
        {"find in data, hex bytes (nothing found)", u"0F 1E 2D 3C 4B 5A 69"},
        {"find in data, digits (nothing found)", u"98765432109"},
    };
    for (const auto& [operation, text] : dataSearches) {
        const CaseSpec data{operation, w.name, "values", w.values};
        runner.run(data, [&, &text = text](Stopwatch& watch) {
            if (!openRegistryStore(w.path).ok) return RunResult::failed("cannot open the store");
            FindOptions options;
            options.keyNames = options.valueNames = false;
            options.text = text;
            watch.start();
            RegistryFind search(options, FindDirection::Next, FindStart::edge());
            const FindStatus status = find::runFind(search);
            watch.stop();
            const std::uint64_t values = search.valuesExamined();
            closeRegistryStore();
            if (status != FindStatus::NotFound) return RunResult::failed("the search found something");
            return RunResult{values, {}};
        });
    }
}

void timeRenameSubtree(BenchRunner& runner, const std::string& dataDir) {
    const CaseSpec spec{"rename a key with its subtree", "100,000 keys", "keys", kRenameKeys, false};
    const std::string path = dataDir + "/rename.db";
    removeStore(path);
    if (!openRegistryStore(path).ok) {
        runner.skip(spec, "cannot make the store");
        return;
    }
    {
        RegistryBatch batch;
        const DWORD one = 1;
        // Tree, its 100 groups and the leaves below them: kRenameKeys keys in all.
        const std::uint64_t leaves = kRenameKeys - 1 - kRenameKeys / kRenameFanOut;
        for (std::uint64_t i = 0; i < leaves; ++i) {
            const std::u16string name =
                u"Tree\\G" + std::u16string(1, u'a' + static_cast<char16_t>(i / kRenameFanOut % 26)) +
                std::u16string(1, u'0' + static_cast<char16_t>(i / kRenameFanOut / 26)) + u"\\K" +
                std::u16string(1, u'0' + static_cast<char16_t>(i % kRenameFanOut / 100)) +
                std::u16string(1, u'0' + static_cast<char16_t>(i % 100 / 10)) +
                std::u16string(1, u'0' + static_cast<char16_t>(i % 10));
            HKEY key = 0;
            if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, name.c_str(), 0, nullptr, 0, 0, nullptr, &key, nullptr) !=
                ERROR_SUCCESS)
                break;
            RegSetValueExW(key, u"v", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof one);
            RegCloseKey(key);
        }
        batch.finish();
    }
    const SubtreeCount before = countSubtree(HKEY_LOCAL_MACHINE, u"Tree");
    bool renamed = false;
    runner.run(spec, [&](Stopwatch& watch) {
        const std::u16string from = renamed ? u"Renamed" : u"Tree", to = renamed ? u"Tree" : u"Renamed";
        watch.start();
        const LONG rc = RegRenameKey(HKEY_LOCAL_MACHINE, from.c_str(), to.c_str());
        watch.stop();
        if (rc != ERROR_SUCCESS) return RunResult::failed("RegRenameKey returned " + std::to_string(rc));
        renamed = !renamed;
        const SubtreeCount after = countSubtree(HKEY_LOCAL_MACHINE, to);
        if (after.keys != before.keys || after.values != before.values || before.keys != kRenameKeys)
            return RunResult::failed("the subtree changed: " + std::to_string(after.keys) + " keys, " +
                                     std::to_string(after.values) + " values");
        return RunResult{after.keys, {}};
    });
    closeRegistryStore();
    removeStore(path);
}

}  // namespace tovik::bench
