#pragma once
// The change history's rows of the benchmark table: what recording adds to a bulk write of M's
// size and to one durable set, undoing the delete of a subtree of M's size, and opening a
// history of 10,000 entries.
#include <string>

#include "bench/bench_runner.h"

namespace tovik::bench {

void timeHistory(BenchRunner& runner, const std::string& dataDir);

}  // namespace tovik::bench
