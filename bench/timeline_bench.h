#pragma once
// The key times' rows: tovik-reg timeline over a workload copied into a hive file, beside
// reglookup-timeline (Debian's reglookup) on the same file, and tovik-reg find --since over a store.
#include <string>

#include "bench/bench_runner.h"
#include "bench/bench_workloads.h"
#include "bench/hive_workload.h"

namespace tovik::bench {

inline constexpr const char* kTimelineOperation = "tovik-reg timeline > /dev/null";
inline constexpr const char* kPeerTimelineOperation = "reglookup-timeline > /dev/null (peer)";
inline constexpr const char* kFindSinceOperation = "tovik-reg find --since > /dev/null";

// label names the hive's rows in the table.
void timeTimeline(BenchRunner& runner, const HiveWorkload& hive, const std::string& label, const std::string& tovikReg);

// Every key of the store is written after the day asked for, so every key is printed.
void timeFindSince(BenchRunner& runner, const Workload& w, const std::string& tovikReg);

}  // namespace tovik::bench
