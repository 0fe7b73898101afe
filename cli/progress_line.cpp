#include "cli/progress_line.h"

#include "cli/messages.h"

#include <unistd.h>

#include <iostream>

namespace tovik::cli {

namespace {
constexpr std::chrono::milliseconds kRewriteEvery{100};
}

ProgressLine::ProgressLine(std::ostream& err, std::string what, std::string unit, bool enabled,
                           std::chrono::milliseconds delay)
    : err_(err),
      what_(std::move(what)),
      unit_(std::move(unit)),
      enabled_(enabled),
      start_(Clock::now()),
      last_(start_),
      delay_(delay) {}

void ProgressLine::update(std::size_t done, std::size_t total) {
    if (!enabled_) return;
    const Clock::time_point now = Clock::now();
    if (now - start_ < delay_ || (width_ != 0 && now - last_ < kRewriteEvery)) return;
    last_ = now;
    std::string line = "tovik-reg: " + what_ + ": ";
    if (total != 0) {
        line += say({"%1% (%2 of %3 %4)", "%1%（%3%4中%2）"},
                    {std::to_string(done * 100 / total), std::to_string(done), std::to_string(total), unit_});
    } else {
        line += std::to_string(done) + " " + unit_;
    }
    const std::size_t width = line.size();
    if (width < width_) line.append(width_ - width, ' ');  // covers the longer line before
    err_ << '\r' << line << std::flush;
    width_ = width;
}

void ProgressLine::clear() {
    if (width_ == 0) return;
    err_ << '\r' << std::string(width_, ' ') << '\r' << std::flush;
    width_ = 0;
}

bool progressWanted(const std::ostream& err) {
    return &err == &std::cerr && ::isatty(STDERR_FILENO) == 1;
}

}  // namespace tovik::cli
