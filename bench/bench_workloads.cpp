#include "bench/bench_workloads.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "registry/registry_store.h"
#include "stores/open_store.h"
#include "stores/sqlite/sqlite_store.h"

namespace tovik::bench {
namespace {

std::string readStamp(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool opens(const std::string& path) {
    const StoreOpenResult opened = openRegistryStore(path);
    closeRegistryStore();
    return opened.ok;
}

void removeStore(const std::string& path) {
    std::error_code ignored;
    for (const char* suffix : {"", "-wal", "-shm", ".stamp"}) std::filesystem::remove(path + suffix, ignored);
}

}  // namespace

std::optional<Workload> prepareWorkload(const std::string& dataDir, const std::string& preset, bool regenerate,
                                        std::string& error) {
    const std::optional<GeneratorOptions> options = presetOptions(preset);
    if (!options) {
        error = "There is no workload named \"" + preset + "\".";
        return std::nullopt;
    }
    Workload workload;
    workload.name = preset;
    workload.path = dataDir + "/" + preset + ".db";
    workload.options = *options;
    workload.keys = options->keys + options->wideKeys.size();
    workload.values = options->values;
    for (const std::uint32_t count : options->wideKeys) workload.values += count;

    // A store of another layout is made again: opening it would upgrade it, and the figures would
    // be those of an upgraded store.
    const std::string stamp =
        describeOptions(*options) + "\nstore layout " + std::to_string(sqliteStoreLayout()) + "\n";
    const std::string stampPath = workload.path + ".stamp";
    if (!regenerate && std::filesystem::exists(workload.path) && readStamp(stampPath) == stamp && opens(workload.path))
        return workload;

    std::error_code ec;
    std::filesystem::create_directories(dataDir, ec);
    if (ec) {
        error = "Cannot create the folder \"" + dataDir + "\": " + ec.message() + ".";
        return std::nullopt;
    }
    removeStore(workload.path);
    std::fprintf(stderr, "Generating workload %s into %s (once; later runs reuse it)\n", preset.c_str(),
                 workload.path.c_str());
    const auto start = std::chrono::steady_clock::now();
    const bool terminal = isatty(STDERR_FILENO);  // a log gets no progress, only the outcome
    const GeneratorResult result =
        generateRegistryFile(workload.path, *options, [&](std::uint64_t keys, std::uint64_t values) {
            if (terminal) {
                std::fprintf(stderr, "\r  %llu keys, %llu values", static_cast<unsigned long long>(keys),
                             static_cast<unsigned long long>(values));
            }
        });
    if (terminal) std::fputc('\n', stderr);
    if (!result.ok) {
        error = result.error;
        return std::nullopt;
    }
    workload.generatedSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::ofstream(stampPath) << stamp;
    std::fprintf(stderr, "  done in %.1f s\n", workload.generatedSeconds);
    return workload;
}

}  // namespace tovik::bench
