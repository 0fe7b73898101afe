#pragma once
// Synthetic registries for the benchmarks: a balanced key tree of a given size and fan-out with
// values of a given mix of types, plus "wide" keys holding many values. The same options (seed
// included) always give the same registry, whatever the machine.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "registry/win_types.h"

namespace tovik::bench {

// Bumped whenever the same options would give a different registry, so caches are remade.
constexpr int kGeneratorVersion = 1;

// Percentages of REG_SZ, REG_DWORD, REG_BINARY and REG_MULTI_SZ; they add up to 100.
struct TypeMix {
    int sz = 40;
    int dword = 30;
    int binary = 20;
    int multiSz = 10;
};

struct GeneratorOptions {
    std::uint64_t seed = 1;
    HKEY root = HKEY_LOCAL_MACHINE;
    std::u16string basePath;        // key under root that holds everything; empty: root itself
    std::uint64_t keys = 10000;     // keys of the tree below the base
    std::uint32_t fanOut = 10;      // subkeys per key, breadth first: every level full but the last
    std::uint64_t values = 100000;  // spread evenly over the tree's keys
    TypeMix mix;
    std::uint32_t stringLength = 30;      // mean characters of a REG_SZ (MULTI_SZ: of all its strings)
    std::uint32_t binarySize = 16;        // bytes of a REG_BINARY
    std::vector<std::uint32_t> wideKeys;  // one more key below the base per entry, with that many values
};

// "S", "M", "L" (the scaling workloads) and "W" (the wide keys only); case-insensitive.
std::optional<GeneratorOptions> presetOptions(std::string_view name);

// The smallest fan-out whose full tree of the given depth holds the given number of keys.
std::uint32_t fanOutForDepth(std::uint64_t keys, std::uint32_t depth);
// Levels of the tree that the options make (0 without keys), not counting the base path.
std::uint32_t treeDepth(const GeneratorOptions& options);

// Empty when the options can be generated; otherwise a sentence saying what is wrong.
std::string validateOptions(const GeneratorOptions& options);
// One line naming the generator version and every option: equal lines, equal registries.
std::string describeOptions(const GeneratorOptions& options);

// Name of the wide key of the given value count ("Wide10000"), directly below the base.
std::u16string wideKeyName(std::uint32_t valueCount);

struct GeneratorResult {
    bool ok = false;
    std::string error;         // a sentence when !ok
    std::uint64_t keys = 0;    // keys created, the base path's and the wide keys included
    std::uint64_t values = 0;  // values written
    std::uint64_t dataBytes = 0;
};

// Called now and then with the number of keys and values written so far.
using GeneratorProgress = std::function<void(std::uint64_t keys, std::uint64_t values)>;

// Writes the registry into the current store (registry_store.h) in batches.
GeneratorResult generateRegistry(const GeneratorOptions& options, const GeneratorProgress& progress = {});

// Creates a new store file at path and generates into it; an existing file is refused. The file
// is written under a temporary name and renamed at the end, so an interrupted run leaves no store
// that looks complete. The process's current store is closed.
GeneratorResult generateRegistryFile(const std::string& path, const GeneratorOptions& options,
                                     const GeneratorProgress& progress = {});

}  // namespace tovik::bench
