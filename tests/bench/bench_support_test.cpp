// The benchmark's plumbing: runs that did the wrong amount of work are reported, not timed; the
// table keeps its columns; spawned programs report exit status and output faithfully.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "bench/bench_runner.h"
#include "bench/child_process.h"

namespace {

using tovik::bench::BenchRunner;
using tovik::bench::RunResult;
using tovik::bench::Stopwatch;

std::vector<std::string> printedLines(const BenchRunner& runner) {
    char* buffer = nullptr;
    std::size_t size = 0;
    std::FILE* out = open_memstream(&buffer, &size);
    runner.print(out);
    std::fclose(out);
    std::vector<std::string> lines;
    std::istringstream in(std::string(buffer, size));
    std::free(buffer);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::size_t displayWidth(const std::string& line) {
    std::size_t n = 0;
    for (const char c : line) n += (c & 0xC0) != 0x80;
    return n;
}

TEST(BenchRunner, TimesGoodCasesAndReportsWrongWorkInsteadOfTimingIt) {
    BenchRunner runner(4, 2, 1e9);
    int calls = 0;
    runner.run({"count", "S", "keys", 10}, [&](Stopwatch& watch) {
        ++calls;
        watch.start();
        watch.stop();
        return RunResult{10, {}};
    });
    EXPECT_EQ(calls, 5);  // one warm-up, four timed
    ASSERT_EQ(runner.rows().size(), 1u);
    EXPECT_EQ(runner.rows()[0].seconds.size(), 4u);
    EXPECT_TRUE(runner.rows()[0].problem.empty());

    int later = 0;
    runner.run({"count", "M", "keys", 10}, [&](Stopwatch&) { return RunResult{++later < 3 ? 10u : 9u, {}}; });
    EXPECT_EQ(later, 3);  // stops at the first run that went wrong
    EXPECT_NE(runner.rows()[1].problem.find("did 9 keys, expected 10"), std::string::npos);

    runner.run({"fails", "S", "rows", 1}, [](Stopwatch&) { return RunResult::failed("no store"); });
    runner.skip({"skipped", "L", "rows", 1}, "not built");
    EXPECT_EQ(runner.rows()[2].problem, "no store");
    EXPECT_EQ(runner.rows()[3].problem, "not built");
}

TEST(BenchRunner, AFilterRunsOnlyTheCasesNamedByOperationOrWorkload) {
    BenchRunner runner(1, 1, 1e9);
    runner.setFilter({"export", "key of 100,000"});
    int calls = 0;
    auto body = [&](Stopwatch&) {
        ++calls;
        return RunResult{1, {}};
    };
    runner.run({"export HKLM", "M", "values", 1}, body);
    runner.run({"FillValueList", "key of 100,000", "rows", 1}, body);
    runner.run({"import", "M", "values", 1}, body);
    runner.skip({"query", "S", "keys", 1}, "not built");
    EXPECT_EQ(calls, 4);  // two cases, each a warm-up and one timed run
    ASSERT_EQ(runner.rows().size(), 2u);
    EXPECT_EQ(runner.rows()[0].spec.operation, "export HKLM");
    EXPECT_EQ(runner.rows()[1].spec.operation, "FillValueList");
}

TEST(BenchRunner, KeepsTheProcessorTimeOfEachTimedRun) {
    BenchRunner runner(2, 2, 1e9);
    volatile double sink = 0;
    runner.run({"spin", "S", "rounds", 1}, [&](Stopwatch& watch) {
        watch.start();
        const double until = tovik::bench::processorSecondsSoFar() + 0.05;
        while (tovik::bench::processorSecondsSoFar() < until) sink = sink + 1;
        watch.stop();
        return RunResult{1, {}};
    });
    ASSERT_EQ(runner.rows()[0].processorSeconds.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_GE(runner.rows()[0].processorSeconds[i], 0.05);
        // One thread cannot use more processor time than the wall clock shows (plus a tick).
        EXPECT_LE(runner.rows()[0].processorSeconds[i], runner.rows()[0].seconds[i] + 0.01);
    }
}

TEST(BenchRunner, SlowCasesGetFewerRuns) {
    BenchRunner runner(5, 2, 0.0);  // every case counts as slow
    int calls = 0;
    runner.run({"slow", "S", "keys", 1}, [&](Stopwatch& watch) {
        ++calls;
        watch.start();
        watch.stop();
        return RunResult{1, {}};
    });
    EXPECT_EQ(calls, 3);
    EXPECT_EQ(runner.rows()[0].seconds.size(), 2u);
}

TEST(BenchRunner, PrintsOneAlignedTableWithFailuresAndRatelessRows) {
    BenchRunner runner(1, 1, 1e9);
    runner.run({"open store", "M", "keys", 100000, false}, [](Stopwatch&) { return RunResult{100000, {}}; });
    runner.run({"FillValueList", "key of 10,000", "rows", 10000}, [](Stopwatch& watch) {
        watch.start();
        watch.stop();
        return RunResult{10000, {}};
    });
    runner.skip({"tovik-reg query -r", "S", "keys+values", 5}, "exit 1");
    const std::vector<std::string> lines = printedLines(runner);
    ASSERT_EQ(lines.size(), 5u);  // header, rule, three rows
    for (const std::string& line : lines) {
        EXPECT_EQ(displayWidth(line), displayWidth(lines[0])) << line;
        EXPECT_EQ(std::count(line.begin(), line.end(), '|'), 10) << line;
    }
    EXPECT_NE(lines[2].find("100,000 keys"), std::string::npos);
    EXPECT_TRUE(lines[2].ends_with(" - |")) << "no rate for a case that should not scale";
    EXPECT_NE(lines[3].find("/s"), std::string::npos);
    EXPECT_NE(lines[4].find("FAILED: exit 1"), std::string::npos);
}

TEST(BenchRunner, NotesTheMedianFigureOfTimedRunsAndWritesMediansOfRowsThatRan) {
    BenchRunner runner(3, 3, 1e9);
    double figure = 10;
    runner.run({"start-up", "S", "keys", 5, false, "MB peak resident"}, [&](Stopwatch&) {
        return RunResult{5, {}, figure += 10};
    });  // warm-up 20, then 30, 40, 50
    runner.run({"open store", "S", "keys", 5, false}, [](Stopwatch&) { return RunResult{5, {}}; });
    runner.skip({"query", "M", "keys", 1}, "not built");

    const std::vector<std::string> lines = printedLines(runner);
    ASSERT_EQ(lines.size(), 5u);
    for (const std::string& line : lines) {
        EXPECT_EQ(displayWidth(line), displayWidth(lines[0])) << line;
        EXPECT_EQ(std::count(line.begin(), line.end(), '|'), 11) << line;
    }
    EXPECT_TRUE(lines[0].ends_with("| Note                |")) << lines[0];
    EXPECT_TRUE(lines[2].ends_with("| 40 MB peak resident |")) << lines[2];
    const std::size_t noteStart = lines[3].rfind('|', lines[3].size() - 2);
    EXPECT_EQ(lines[3].substr(noteStart), "|" + std::string(21, ' ') + "|") << "no figure, empty note";

    EXPECT_TRUE(runner.median("start-up", "S").has_value());
    EXPECT_FALSE(runner.median("query", "M").has_value());
    EXPECT_FALSE(runner.median("start-up", "M").has_value());

    char* buffer = nullptr;
    std::size_t size = 0;
    std::FILE* out = open_memstream(&buffer, &size);
    runner.writeMedians(out);
    std::fclose(out);
    const std::string medians(buffer, size);
    std::free(buffer);
    std::istringstream in(medians);
    std::vector<std::vector<std::string>> fields;
    for (std::string line; std::getline(in, line);) {
        std::vector<std::string> cells;
        std::istringstream cellsIn(line);
        for (std::string cell; std::getline(cellsIn, cell, '\t');) cells.push_back(cell);
        fields.push_back(cells);
    }
    ASSERT_EQ(fields.size(), 2u) << "the skipped case has no median";
    ASSERT_EQ(fields[0].size(), 5u);
    EXPECT_EQ(fields[0][0], "start-up");
    EXPECT_EQ(fields[0][1], "S");
    EXPECT_NO_THROW(std::stod(fields[0][2]));
    EXPECT_EQ(fields[0][3], "3");  // timed runs
    EXPECT_EQ(fields[0][4], "5");  // items
    EXPECT_EQ(fields[1][0], "open store");
}

TEST(BenchFormat, CountsDurationsAndRatesReadAsPeopleWriteThem) {
    EXPECT_EQ(tovik::bench::formatCount(0), "0");
    EXPECT_EQ(tovik::bench::formatCount(999), "999");
    EXPECT_EQ(tovik::bench::formatCount(1000), "1,000");
    EXPECT_EQ(tovik::bench::formatCount(1200000), "1,200,000");
    EXPECT_EQ(tovik::bench::formatDuration(850e-6), "850 µs");
    EXPECT_EQ(tovik::bench::formatDuration(0.0123), "12.3 ms");
    EXPECT_EQ(tovik::bench::formatDuration(1.5), "1.50 s");
    EXPECT_EQ(tovik::bench::formatRate(1.234e6), "1.23 M/s");
    EXPECT_EQ(tovik::bench::formatRate(45600), "45.6 k/s");
    EXPECT_EQ(tovik::bench::formatRate(12), "12 /s");
}

TEST(ChildProcess, ReportsExitStatusOutputAndErrors) {
    std::string out;
    const auto outcome = tovik::bench::runReadingOutput({"/bin/sh", "-c", "printf 'a\\nb\\n'; echo oops >&2; exit 3"},
                                                        [&](std::string_view chunk) { out += chunk; });
    EXPECT_TRUE(outcome.ran);
    EXPECT_EQ(outcome.exitCode, 3);
    EXPECT_FALSE(outcome.succeeded());
    EXPECT_EQ(out, "a\nb\n");
    EXPECT_EQ(outcome.errorOutput, "oops\n");

    EXPECT_TRUE(tovik::bench::runDiscardingOutput({"/bin/sh", "-c", "echo hidden"}).succeeded());
    EXPECT_EQ(tovik::bench::runDiscardingOutput({"/bin/sh", "-c", "kill -9 $$"}).exitCode, -1);

    const auto missing = tovik::bench::runDiscardingOutput({"/nonexistent/tovik-reg"});
    EXPECT_FALSE(missing.ran);
    EXPECT_NE(missing.error.find("/nonexistent/tovik-reg"), std::string::npos);
}

TEST(ChildProcess, ReadsOutputLargerThanAPipeHolds) {
    std::size_t bytes = 0;
    const auto outcome =
        tovik::bench::runReadingOutput({"/bin/sh", "-c", "head -c 3000000 /dev/zero; head -c 200000 /dev/zero >&2"},
                                       [&](std::string_view chunk) { bytes += chunk.size(); });
    EXPECT_TRUE(outcome.succeeded());
    EXPECT_EQ(bytes, 3000000u);
    EXPECT_EQ(outcome.errorOutput.size(), 64u * 1024);  // kept to its first 64 KiB
}

}  // namespace
