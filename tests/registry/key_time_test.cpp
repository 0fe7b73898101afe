// Key times in their ISO 8601 forms: every time written reads back, and the spellings a user types
// (a date alone, UTC, an offset, local time) name the moment they say.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <random>

#include "registry/key_time.h"

namespace {

using tovik::fileTimeFromUnixSeconds;
using tovik::formatFileTimeUtc;
using tovik::parseIsoDateTime;

TEST(KeyTime, EveryWrittenTimeReadsBackToTheSecond) {
    std::mt19937_64 random(20240501);
    // From 1601 to 9999, whole seconds: the text is exact to the second.
    std::uniform_int_distribution<std::int64_t> seconds(0, 265046774399);
    for (int i = 0; i < 20000; ++i) {
        const std::int64_t time = seconds(random) * tovik::kFileTimeTicksPerSecond + 1;
        const std::string text = formatFileTimeUtc(time);
        const std::optional<std::int64_t> read = parseIsoDateTime(text);
        ASSERT_TRUE(read) << text;
        EXPECT_EQ(*read, time - 1) << text;
    }
    EXPECT_EQ(formatFileTimeUtc(0), "");
    EXPECT_EQ(formatFileTimeUtc(fileTimeFromUnixSeconds(0)), "1970-01-01T00:00:00Z");
    EXPECT_EQ(formatFileTimeUtc(fileTimeFromUnixSeconds(951782400)), "2000-02-29T00:00:00Z");
}

TEST(KeyTime, DatesAndTimesAsUsersTypeThem) {
    const std::int64_t may1 = fileTimeFromUnixSeconds(1714521600);  // 2024-05-01T00:00:00Z
    bool dateOnly = false;
    EXPECT_EQ(parseIsoDateTime("2024-05-01T00:00:00Z", &dateOnly), may1);
    EXPECT_FALSE(dateOnly);
    EXPECT_EQ(parseIsoDateTime("2024-05-01 09:00+09:00"), may1);
    EXPECT_EQ(parseIsoDateTime("2024-04-30T19:00:00-0500"), may1);
    EXPECT_EQ(parseIsoDateTime("2024-05-01T00:00:00.25Z"), may1 + tovik::kFileTimeTicksPerSecond / 4);

    // Without a zone: this machine's local time.
    setenv("TZ", "Asia/Tokyo", 1);
    tzset();
    EXPECT_EQ(parseIsoDateTime("2024-05-01T09:00", &dateOnly), may1);
    EXPECT_EQ(parseIsoDateTime(" 2024-05-01 ", &dateOnly), may1 - 9 * 3600 * tovik::kFileTimeTicksPerSecond);
    EXPECT_TRUE(dateOnly);
    unsetenv("TZ");
    tzset();

    for (const char* wrong :
         {"", "2024", "2024-5-1", "2024-02-30", "2024-13-01", "1600-12-31", "2024-05-01T25:00", "2024-05-01T12",
          "2024-05-01Z", "2024-05-01T12:00+9", "2024-05-01T12:00:00.Z", "yesterday", "2024-05-01T12:00 Z"})
        EXPECT_FALSE(parseIsoDateTime(wrong)) << wrong;
}

}  // namespace
