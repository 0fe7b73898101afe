#pragma once
// The comparison's rows of the benchmark table: tovik-reg diff of a whole workload against a copy
// of it with 1,000 scattered changes, with the diff's peak resident memory.
#include <string>

#include "bench/bench_runner.h"
#include "bench/bench_workloads.h"

namespace tovik::bench {

void timeCompare(BenchRunner& runner, const Workload& workload, const std::string& dataDir);

}  // namespace tovik::bench
