#pragma once
// Runs another program and waits for it: the benchmarks time real executables, not in-process
// copies of their code.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tovik::bench {

struct ChildOutcome {
    bool ran = false;   // false: it could not be started (error says why)
    int exitCode = -1;  // -1 when it ended by a signal
    std::string error;
    std::string errorOutput;  // what it wrote on stderr (first 64 KiB)
    bool succeeded() const { return ran && exitCode == 0; }
};

// argv[0] is the program's path. stdout goes to /dev/null.
ChildOutcome runDiscardingOutput(const std::vector<std::string>& argv);
// The same, with stdout handed to sink piece by piece as it arrives.
ChildOutcome runReadingOutput(const std::vector<std::string>& argv, const std::function<void(std::string_view)>& sink);

// Runs argv (stdout to /dev/null) and sets peakResidentKib to its peak resident memory. A fresh
// copy of `self` started in the measuring role (kPeakMemoryChildArgument) starts it and reads
// the peak: Linux counts into a child's peak the memory of the process that started it, and a
// benchmark holds far more than the child may ever use.
inline constexpr std::string_view kPeakMemoryChildArgument = "--peak-memory-child";
ChildOutcome runMeasuringPeakMemory(const std::string& self, const std::vector<std::string>& argv,
                                    std::uint64_t& peakResidentKib);
// The measuring role: runs args[0..] and prints "peak-resident-kib: N" on stdout; returns the
// child's exit status (127 when it could not be started).
int peakMemoryChildMain(const std::vector<std::string>& args);

}  // namespace tovik::bench
