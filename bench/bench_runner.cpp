#include "bench/bench_runner.h"

#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <string>

namespace tovik::bench {
namespace {

std::string printed(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// Three significant digits.
std::string significant(double value, const char* unit) {
    const char* format = value >= 100 ? "%.0f %s" : value >= 10 ? "%.1f %s" : "%.2f %s";
    char text[64];
    std::snprintf(text, sizeof text, format, value, unit);
    return text;
}

double medianOf(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// "212 MB peak resident", "98 MB peak resident, 7.0 times the file"
std::string figureNote(const CaseRow& row) {
    if (row.figures.empty() || !row.problem.empty()) return {};
    const double median = medianOf(row.figures);
    std::string note = printed("%.0f ", median) + row.spec.figureUnit;
    if (row.spec.figureBase > 0)
        note += printed(", %.1f times ", median / row.spec.figureBase) + row.spec.figureBaseName;
    return note;
}

}  // namespace

double processorSecondsSoFar() {
    auto seconds = [](const rusage& u) {
        return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
    };
    rusage self{}, children{};
    getrusage(RUSAGE_SELF, &self);
    getrusage(RUSAGE_CHILDREN, &children);
    return seconds(self) + seconds(children);
}

std::uint64_t peakResidentKb() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmHWM:", 0) == 0) return std::strtoull(line.c_str() + 6, nullptr, 10);
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<std::uint64_t>(usage.ru_maxrss);
}

void resetPeakResident() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

std::optional<double> medianSeconds(const CaseRow& row) {
    if (row.seconds.empty() || !row.problem.empty()) return std::nullopt;
    return medianOf(row.seconds);
}

std::string formatDuration(double seconds) {
    if (seconds >= 1) return significant(seconds, "s");
    if (seconds >= 1e-3) return significant(seconds * 1e3, "ms");
    return significant(seconds * 1e6, "µs");
}

std::string formatRate(double perSecond) {
    if (perSecond >= 1e6) return significant(perSecond / 1e6, "M/s");
    if (perSecond >= 1e3) return significant(perSecond / 1e3, "k/s");
    return printed("%.0f /s", perSecond);
}

std::string formatCount(std::uint64_t n) {
    const std::string digits = std::to_string(n);
    std::string grouped;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) grouped += ',';
        grouped += digits[i];
    }
    return grouped;
}

bool BenchRunner::wanted(const CaseSpec& spec) const {
    if (filter_.empty()) return true;
    return std::any_of(filter_.begin(), filter_.end(), [&](const std::string& text) {
        return spec.operation.find(text) != std::string::npos || spec.workload.find(text) != std::string::npos;
    });
}

void BenchRunner::run(const CaseSpec& spec, const std::function<RunResult(Stopwatch&)>& body) {
    if (!wanted(spec)) return;
    std::fprintf(stderr, "  %s, %s ...\n", spec.operation.c_str(), spec.workload.c_str());
    CaseRow row{spec, {}, {}};
    auto once = [&](bool keep) {
        Stopwatch watch;
        const RunResult result = body(watch);
        if (!result.error.empty()) {
            row.problem = result.error;
        } else if (result.items != spec.expectedItems) {
            row.problem =
                "did " + formatCount(result.items) + " " + spec.unit + ", expected " + formatCount(spec.expectedItems);
        }
        if (keep) {
            row.seconds.push_back(watch.seconds());
            row.processorSeconds.push_back(watch.processorSeconds());
            if (result.figure) row.figures.push_back(*result.figure);
        }
        return watch.seconds();
    };
    const double warmUp = once(false);
    const int runs = warmUp > slowSeconds_ ? std::min(runs_, slowRuns_) : runs_;
    for (int i = 0; i < runs && row.problem.empty(); ++i) once(true);
    rows_.push_back(std::move(row));
}

void BenchRunner::skip(const CaseSpec& spec, const std::string& why) {
    if (wanted(spec)) rows_.push_back({spec, {}, why});
}

void BenchRunner::print(std::FILE* out) const {
    std::vector<std::string> header = {"Operation", "Workload", "Items",      "Runs",   "Median",
                                       "Min",       "Max",      "CPU median", "Items/s"};
    const bool notes = std::any_of(rows_.begin(), rows_.end(), [](const CaseRow& row) { return !row.figures.empty(); });
    if (notes) header.push_back("Note");
    // Items to Items/s are numbers, aligned right; the note after them is text.
    auto isNumber = [](std::size_t column) { return column >= 2 && column < 9; };
    std::vector<std::vector<std::string>> cells;
    for (const CaseRow& row : rows_) {
        std::vector<std::string> line = {row.spec.operation, row.spec.workload,
                                         formatCount(row.spec.expectedItems) + " " + row.spec.unit};
        if (!row.problem.empty()) {
            line.insert(line.end(), {"-", "FAILED: " + row.problem, "", "", "", ""});
        } else {
            const double mid = medianOf(row.seconds);
            const auto [low, high] = std::minmax_element(row.seconds.begin(), row.seconds.end());
            line.insert(line.end(), {std::to_string(row.seconds.size()), formatDuration(mid), formatDuration(*low),
                                     formatDuration(*high), formatDuration(medianOf(row.processorSeconds)),
                                     row.spec.perItemRate && mid > 0 ? formatRate(row.spec.expectedItems / mid) : "-"});
        }
        if (notes) line.push_back(figureNote(row));
        cells.push_back(std::move(line));
    }
    // Widths in characters, not bytes: "µ" is two bytes of UTF-8.
    auto width = [](const std::string& s) {
        return static_cast<std::size_t>(std::count_if(s.begin(), s.end(), [](char c) { return (c & 0xC0) != 0x80; }));
    };
    std::vector<std::size_t> widths(header.size());
    for (std::size_t c = 0; c < header.size(); ++c) {
        widths[c] = width(header[c]);
        for (const auto& line : cells) widths[c] = std::max(widths[c], width(line[c]));
    }
    auto printLine = [&](const std::vector<std::string>& line) {
        std::fputc('|', out);
        for (std::size_t c = 0; c < line.size(); ++c) {
            const std::string pad(widths[c] - width(line[c]), ' ');
            const bool right = isNumber(c);
            std::fprintf(out, " %s%s%s |", right ? pad.c_str() : "", line[c].c_str(), right ? "" : pad.c_str());
        }
        std::fputc('\n', out);
    };
    printLine(header);
    std::fputc('|', out);
    for (std::size_t c = 0; c < header.size(); ++c)
        std::fprintf(out, "%s%s|", std::string(widths[c] + 1, '-').c_str(), isNumber(c) ? ":" : "-");
    std::fputc('\n', out);
    for (const auto& line : cells) printLine(line);
}

void BenchRunner::writeMedians(std::FILE* out) const {
    for (const CaseRow& row : rows_) {
        if (const std::optional<double> mid = medianSeconds(row)) {
            std::fprintf(out, "%s\t%s\t%.6f\t%zu\t%llu\n", row.spec.operation.c_str(), row.spec.workload.c_str(), *mid,
                         row.seconds.size(), static_cast<unsigned long long>(row.spec.expectedItems));
        }
    }
}

std::optional<double> BenchRunner::median(const std::string& operation, const std::string& workload) const {
    for (const CaseRow& row : rows_)
        if (row.spec.operation == operation && row.spec.workload == workload) return medianSeconds(row);
    return std::nullopt;
}

}  // namespace tovik::bench
