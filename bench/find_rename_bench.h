#pragma once
// The search's and the rename's rows of the benchmark table.
#include <string>

#include "bench/bench_runner.h"
#include "bench/bench_workloads.h"

namespace tovik::bench {

// Finding the last key of the workload by its name, and a data search that finds nothing (so
// it reads every value's data text).
void timeFind(BenchRunner& runner, const Workload& w);

// Renaming a key with 100,000 keys (one value each) below it, in a store made for it in dataDir.
void timeRenameSubtree(BenchRunner& runner, const std::string& dataDir);

}  // namespace tovik::bench
