#pragma once
// The Wine prefix rows of the benchmark table: a fresh prefix opened and shown as a tree, and a
// system.reg of workload M (100,000 keys, 1,000,000 values) opened and saved, and a user.reg of
// 200,000 sibling keys opened in name order and reversed, and the peak memory of tovik-reg reading
// a user.reg of 1,000,000 one-line keys against the file's size.
#include <string>

#include "bench/bench_runner.h"

namespace tovik::bench {

void timeWinePrefixes(BenchRunner& runner, const std::string& dataDir, bool regenerate);

}  // namespace tovik::bench
