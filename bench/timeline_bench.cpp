#include "bench/timeline_bench.h"

#include <unistd.h>

#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

#include "bench/child_process.h"

namespace tovik::bench {

namespace {

struct LineCount {
    std::uint64_t lines = 0;
    void operator()(std::string_view chunk) {
        for (const char c : chunk) lines += c == '\n';
    }
};

// Runs argv once with its output read: lines printed beyond the header must be the items
// expected, so that the timed runs are known to print them all. Then times it with the output
// thrown away.
void timeProgram(BenchRunner& runner, const CaseSpec& spec, const std::vector<std::string>& argv,
                 std::uint64_t headerLines) {
    if (!runner.wanted(spec)) return;
    if (access(argv.front().c_str(), X_OK) != 0) {
        runner.skip(spec, argv.front() + " is not there");
        return;
    }
    LineCount count;
    const ChildOutcome checked = runReadingOutput(argv, std::ref(count));
    if (!checked.succeeded()) {
        runner.skip(spec, checked.ran ? "exit " + std::to_string(checked.exitCode) + ": " + checked.errorOutput
                                      : checked.error);
        return;
    }
    if (count.lines != spec.expectedItems + headerLines) {
        runner.skip(spec, "printed " + formatCount(count.lines) + " lines");
        return;
    }
    runner.run(spec, [&](Stopwatch& watch) {
        watch.start();
        const ChildOutcome outcome = runDiscardingOutput(argv);
        watch.stop();
        if (!outcome.succeeded())
            return RunResult::failed(outcome.ran ? "exit " + std::to_string(outcome.exitCode) : outcome.error);
        return RunResult{spec.expectedItems, {}};
    });
}

}  // namespace

void timeTimeline(BenchRunner& runner, const HiveWorkload& hive, const std::string& label,
                  const std::string& tovikReg) {
    const std::uint64_t keys = hive.keys + 1;  // the hive's root as well
    timeProgram(runner, {kTimelineOperation, label, "keys", keys},
                {tovikReg, "--hive", hive.path, "--as", "HKLM\\SOFTWARE", "timeline", "HKLM\\SOFTWARE"}, 0);
    timeProgram(runner, {kPeerTimelineOperation, label, "keys", keys}, {"/usr/bin/reglookup-timeline", hive.path}, 1);
}

void timeFindSince(BenchRunner& runner, const Workload& w, const std::string& tovikReg) {
    timeProgram(runner, {kFindSinceOperation, w.name, "keys", w.keys},
                {tovikReg, "--registry", w.path, "find", "HKEY_LOCAL_MACHINE", "--since", "2000-01-01"}, 0);
}

}  // namespace tovik::bench
