#pragma once
// The benchmark's registries: generated once into a cache folder and reused while the generator
// would make the same registry.
#include <cstdint>
#include <optional>
#include <string>

#include "bench/registry_generator.h"

namespace tovik::bench {

struct Workload {
    std::string name;  // the preset: "S", "M", "L" or "W"
    std::string path;  // its store file
    GeneratorOptions options;
    std::uint64_t keys = 0;  // below the root, wide keys included
    std::uint64_t values = 0;
    double generatedSeconds = 0;  // 0 when the cached store was reused
};

// The store of the preset in dataDir: reused when its stamp matches the generator's description
// of the preset and it opens, generated otherwise (or always, with regenerate). The process's
// current store is closed. Progress goes to stderr.
std::optional<Workload> prepareWorkload(const std::string& dataDir, const std::string& preset, bool regenerate,
                                        std::string& error);

}  // namespace tovik::bench
