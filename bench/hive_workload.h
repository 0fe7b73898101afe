#pragma once
// The hive workload: a benchmark registry copied with hivex into a hive file of its own, as large
// as a SOFTWARE hive gets. Made once from the store and reused while that store is unchanged.
#include <cstdint>
#include <functional>
#include <string>

#include "bench/bench_workloads.h"

namespace tovik::bench {

struct HiveWorkload {
    std::string path;        // the hive file
    std::uint64_t keys = 0;  // below the hive's root
    std::uint64_t values = 0;
    std::uint64_t bytes = 0;      // the file's size
    double generatedSeconds = 0;  // 0 when the file was reused
};

// emptyHive writes a hive with a root key only (hivex cannot make one) to the path given.
// HKLM of the workload becomes the hive's root. The process's current store is closed.
bool prepareHiveWorkload(const Workload& from, const std::function<void(const std::string&)>& emptyHive,
                         HiveWorkload& hive, std::string& error);

}  // namespace tovik::bench
