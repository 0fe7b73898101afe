#pragma once
// The discovery row of the benchmark table: every registry of a home with 50 launcher prefixes
// and a Steam library of 200 games, found and checked for a running wineserver.
#include <string>

#include "bench/bench_runner.h"

namespace tovik::bench {

inline constexpr const char* kDiscoverOperation = "discover registries";
inline constexpr const char* kDiscoverWorkload = "50 prefixes + Steam library of 200 games";

void timeDiscovery(BenchRunner& runner, const std::string& dataDir);

}  // namespace tovik::bench
