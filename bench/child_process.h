#pragma once
// Runs another program and waits for it: the benchmarks time real executables, not in-process
// copies of their code.
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

}  // namespace tovik::bench
