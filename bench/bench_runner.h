#pragma once
// Repeats a timed case, keeps its wall-clock times and prints every case as a row of one table:
// median, min and max of the runs, and items per second.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tovik::bench {

// The processor time (user and system) of this process and of its children that were waited
// for, in seconds.
double processorSecondsSoFar();

// This process's peak resident memory (VmHWM, or ru_maxrss where that cannot be read), in KiB;
// resetPeakResident starts the peak again from the memory resident now, where Linux allows it.
std::uint64_t peakResidentKb();
void resetPeakResident();

// A case times only what lies between start() and stop(); set-up and checks stay outside. Beside
// the wall clock it keeps the processor time, which other programs on a busy machine disturb less.
class Stopwatch {
public:
    void start() {
        begin_ = Clock::now();
        cpuBegin_ = processorSecondsSoFar();
    }
    void stop() {
        elapsed_ += Clock::now() - begin_;
        cpu_ += processorSecondsSoFar() - cpuBegin_;
    }
    double seconds() const { return std::chrono::duration<double>(elapsed_).count(); }
    double processorSeconds() const { return cpu_; }

private:
    using Clock = std::chrono::steady_clock;
    Clock::time_point begin_{};
    Clock::duration elapsed_{};
    double cpuBegin_ = 0;
    double cpu_ = 0;
};

// What one run of a case did: how many items it handled, or why it failed.
struct RunResult {
    std::uint64_t items = 0;
    std::string error;
    std::optional<double> figure = std::nullopt;  // a second measurement of the run, in the case's figureUnit
    static RunResult failed(std::string why) { return {0, std::move(why)}; }
};

struct CaseSpec {
    std::string operation;
    std::string workload;
    std::string unit;             // what the items are: "keys", "rows", ...
    std::uint64_t expectedItems;  // a run handling any other number is reported as wrong
    bool perItemRate = true;      // false: the time is not meant to grow with the items
    std::string figureUnit = {};  // what RunResult::figure measures, e.g. "MB peak resident"
    // When set, the note also gives the figure as a multiple of this (in the same unit), named so.
    double figureBase = 0;
    std::string figureBaseName = {};  // e.g. "the file"
};

struct CaseRow {
    CaseSpec spec;
    std::vector<double> seconds;
    std::string problem;                        // empty when every run did the expected work
    std::vector<double> figures = {};           // of the timed runs that reported one
    std::vector<double> processorSeconds = {};  // of the timed runs
};

// The median of the row's timed runs; nullopt when it has none (it failed or was skipped).
std::optional<double> medianSeconds(const CaseRow& row);

class BenchRunner {
public:
    // runs: timed runs per case, after one untimed warm-up; cases whose warm-up takes longer than
    // slowSeconds get at most slowRuns runs, so that the whole table stays quick.
    BenchRunner(int runs, int slowRuns, double slowSeconds)
        : runs_(runs), slowRuns_(slowRuns), slowSeconds_(slowSeconds) {}

    // Only the cases whose operation or workload contains one of these texts run (all when empty);
    // the others get no row.
    void setFilter(std::vector<std::string> texts) { filter_ = std::move(texts); }
    bool wanted(const CaseSpec& spec) const;

    void run(const CaseSpec& spec, const std::function<RunResult(Stopwatch&)>& body);
    // A case that could not run at all still gets its row, saying why.
    void skip(const CaseSpec& spec, const std::string& why);
    // The table; it gets a "Note" column (the median figure of each row) when any row has figures.
    void print(std::FILE* out) const;
    // One tab-separated line per case that ran: operation, workload, median seconds, runs, items.
    void writeMedians(std::FILE* out) const;
    // The median of the case with this operation and workload, if it ran.
    std::optional<double> median(const std::string& operation, const std::string& workload) const;
    const std::vector<CaseRow>& rows() const { return rows_; }

private:
    int runs_;
    int slowRuns_;
    double slowSeconds_;
    std::vector<CaseRow> rows_;
    std::vector<std::string> filter_;
};

// "12.3 ms", "1.24 s", "850 µs"
std::string formatDuration(double seconds);
// "1.23 M/s", "45.6 k/s"
std::string formatRate(double perSecond);
// "1,200,000"
std::string formatCount(std::uint64_t n);

}  // namespace tovik::bench
