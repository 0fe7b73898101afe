#include <gtest/gtest.h>

#include <sstream>

#include "cli/progress_line.h"

using tovik::cli::ProgressLine;
using tovik::cli::progressWanted;
using namespace std::chrono_literals;

TEST(ProgressLine, WritesOneLineInPlaceAndErasesIt) {
    std::ostringstream err;
    {
        ProgressLine line(err, "import", "lines", true, 0ms);
        line.update(5, 10);
        EXPECT_EQ(err.str(), "\rtovik-reg: import: 50% (5 of 10 lines)");
        line.update(6, 10);  // too soon after the last one: not rewritten
        EXPECT_EQ(err.str(), "\rtovik-reg: import: 50% (5 of 10 lines)");
        line.clear();
        EXPECT_EQ(err.str().substr(err.str().size() - 1), "\r");
        const std::size_t width = std::string("tovik-reg: import: 50% (5 of 10 lines)").size();
        EXPECT_EQ(err.str().substr(err.str().rfind('\r', err.str().size() - 2)), "\r" + std::string(width, ' ') + "\r");
    }
    std::ostringstream keys;
    {
        ProgressLine line(keys, "export", "keys", true, 0ms);
        line.update(1234);
    }
    // An unknown total counts; the line is erased when the progress ends.
    EXPECT_EQ(keys.str().rfind("\rtovik-reg: export: 1234 keys", 0), 0u);
    EXPECT_EQ(keys.str().back(), '\r');
}

TEST(ProgressLine, NothingWhenNotATerminalOrBeforeTheDelay) {
    std::ostringstream err;
    {
        ProgressLine off(err, "import", "lines", false, 0ms);
        off.update(1, 2);
        ProgressLine early(err, "export", "keys", true, 10s);
        early.update(1);
    }
    EXPECT_EQ(err.str(), "");
    EXPECT_FALSE(progressWanted(err));
}
