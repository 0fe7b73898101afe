#include "registry/key_time.h"

#include <chrono>
#include <cstdio>
#include <ctime>

#include "registry/registry_api.h"

namespace tovik {
namespace {

bool digits(std::string_view text, std::size_t at, std::size_t count, int& out) {
    if (at + count > text.size()) return false;
    out = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        out = out * 10 + (text[i] - '0');
    }
    return true;
}

bool leapYear(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int daysIn(int year, int month) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && leapYear(year) ? 29 : kDays[month - 1];
}

// Days from 1970-01-01 to the date (proleptic Gregorian), without the C library's time_t range.
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

}  // namespace

std::int64_t fileTimeNow() {
    const auto sinceEpoch = std::chrono::system_clock::now().time_since_epoch();
    return std::chrono::duration_cast<std::chrono::nanoseconds>(sinceEpoch).count() / 100 + kFileTimeOfUnixEpoch;
}

std::int64_t keyWriteTime(HKEY key) {
    FILETIME time{};
    if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                         &time) != ERROR_SUCCESS)
        return 0;
    return static_cast<std::int64_t>((std::uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime);
}

std::int64_t unixSecondsOfFileTime(std::int64_t fileTime) {
    const std::int64_t ticks = fileTime - kFileTimeOfUnixEpoch;
    return ticks >= 0 ? ticks / kFileTimeTicksPerSecond
                      : -((-ticks + kFileTimeTicksPerSecond - 1) / kFileTimeTicksPerSecond);
}

std::string formatFileTimeUtc(std::int64_t fileTime) {
    if (fileTime <= 0) return {};
    const std::int64_t seconds = unixSecondsOfFileTime(fileTime);
    std::int64_t days = seconds >= 0 ? seconds / 86400 : -((-seconds + 86399) / 86400);
    const std::int64_t inDay = seconds - days * 86400;
    // Civil date from days since 1970 (the inverse of daysFromCivil).
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(days - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    const unsigned day = doy - (153 * mp + 2) / 5 + 1;
    const unsigned month = mp < 10 ? mp + 3 : mp - 9;
    const std::int64_t year = static_cast<std::int64_t>(yoe) + era * 400 + (month <= 2);
    char text[64];
    std::snprintf(text, sizeof text, "%04lld-%02u-%02uT%02d:%02d:%02dZ", static_cast<long long>(year), month, day,
                  static_cast<int>(inDay / 3600), static_cast<int>(inDay / 60 % 60), static_cast<int>(inDay % 60));
    return text;
}

std::optional<std::int64_t> parseIsoDateTime(std::string_view text, bool* dateOnly) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (!digits(text, 0, 4, year) || text.size() < 10 || text[4] != '-' || !digits(text, 5, 2, month) ||
        text[7] != '-' || !digits(text, 8, 2, day))
        return std::nullopt;
    if (year < 1601 || month < 1 || month > 12 || day < 1 || day > daysIn(year, month)) return std::nullopt;
    std::size_t at = 10;
    std::int64_t fraction = 0;  // in 100 ns ticks
    const bool hasTime = at < text.size();
    if (hasTime) {
        if (text[at] != 'T' && text[at] != 't' && text[at] != ' ') return std::nullopt;
        if (!digits(text, at + 1, 2, hour) || at + 3 >= text.size() || text[at + 3] != ':' ||
            !digits(text, at + 4, 2, minute))
            return std::nullopt;
        at += 6;
        if (at < text.size() && text[at] == ':') {
            if (!digits(text, at + 1, 2, second)) return std::nullopt;
            at += 3;
            if (at < text.size() && (text[at] == '.' || text[at] == ',')) {
                ++at;
                std::int64_t scale = kFileTimeTicksPerSecond / 10;
                const std::size_t first = at;
                for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
                    fraction += (text[at] - '0') * scale;
                    scale /= 10;
                }
                if (at == first) return std::nullopt;
            }
        }
        if (hour > 23 || minute > 59 || second > 59) return std::nullopt;
    }
    const std::int64_t civilSeconds =
        daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) * 86400 + hour * 3600 +
        minute * 60 + second;
    std::int64_t utcSeconds = 0;
    const std::string_view zone = text.substr(at);
    if (zone == "Z" || zone == "z") {
        utcSeconds = civilSeconds;
    } else if (!zone.empty()) {
        int zoneHours = 0, zoneMinutes = 0;
        if ((zone[0] != '+' && zone[0] != '-') || !digits(zone, 1, 2, zoneHours)) return std::nullopt;
        std::size_t rest = 3;
        if (rest < zone.size() && zone[rest] == ':') ++rest;
        if (rest < zone.size() && (!digits(zone, rest, 2, zoneMinutes) || rest + 2 != zone.size())) return std::nullopt;
        if (rest == zone.size() && rest != 3) return std::nullopt;
        if (zoneHours > 23 || zoneMinutes > 59) return std::nullopt;
        const int offset = (zoneHours * 3600 + zoneMinutes * 60) * (zone[0] == '-' ? -1 : 1);
        utcSeconds = civilSeconds - offset;
    } else {
        // Local time: the C library knows the zone's rules, daylight saving included.
        std::tm local{};
        local.tm_year = year - 1900;
        local.tm_mon = month - 1;
        local.tm_mday = day;
        local.tm_hour = hour;
        local.tm_min = minute;
        local.tm_sec = second;
        local.tm_isdst = -1;
        const std::time_t made = std::mktime(&local);
        if (made == static_cast<std::time_t>(-1) && !(year == 1969 || year == 1970)) return std::nullopt;
        utcSeconds = made;
    }
    if (dateOnly) *dateOnly = !hasTime;
    return fileTimeFromUnixSeconds(utcSeconds) + fraction;
}

}  // namespace tovik
