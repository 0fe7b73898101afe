#pragma once
// The progress line of a long export or import on a terminal: after half a second,
// "tovik-reg: import: 40% (12000 of 30000 lines)" or "tovik-reg: export: 12000 keys", rewritten
// in place a few times a second and erased at the end, before any message.
#include <chrono>
#include <cstddef>
#include <iosfwd>
#include <string>

namespace tovik::cli {

class ProgressLine {
public:
    // what and unit in the messages' language ("import", "lines"). Nothing is written unless enabled (stderr is a terminal, see ProgressWanted).
    ProgressLine(std::ostream& err, std::string what, std::string unit, bool enabled,
                 std::chrono::milliseconds delay = std::chrono::milliseconds(500));
    ~ProgressLine() { clear(); }
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    // done of total units (total 0: not known).
    void update(std::size_t done, std::size_t total = 0);
    // Erases the line.
    void clear();

private:
    using Clock = std::chrono::steady_clock;
    std::ostream& err_;
    std::string what_;
    std::string unit_;
    bool enabled_;
    Clock::time_point start_;
    Clock::time_point last_;
    std::chrono::milliseconds delay_;
    std::size_t width_ = 0;  // the characters on the line now
};

// True when err is the process's stderr and that is a terminal.
bool progressWanted(const std::ostream& err);

}  // namespace tovik::cli
