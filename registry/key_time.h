#pragma once
// Key last-write times as the registry keeps them: FILETIMEs, 100 ns ticks since 1601-01-01 UTC,
// with 0 for a time the registry does not know; and their ISO 8601 text forms.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "registry/win_types.h"

namespace tovik {

inline constexpr std::int64_t kFileTimeTicksPerSecond = 10'000'000;
// The FILETIME of 1970-01-01 00:00 UTC.
inline constexpr std::int64_t kFileTimeOfUnixEpoch = 116'444'736'000'000'000;

std::int64_t fileTimeNow();
// When an open key was last written (RegQueryInfoKeyW's time); 0 when the registry keeps no time
// for it or cannot be asked.
std::int64_t keyWriteTime(HKEY key);
inline std::int64_t fileTimeFromUnixSeconds(std::int64_t seconds) {
    return seconds * kFileTimeTicksPerSecond + kFileTimeOfUnixEpoch;
}
// Whole seconds since 1970, rounded down.
std::int64_t unixSecondsOfFileTime(std::int64_t fileTime);

// "2024-05-01T12:34:56Z": UTC, whole seconds. Empty for 0 (unknown) and for times before 1601.
std::string formatFileTimeUtc(std::int64_t fileTime);

// Reads an ISO 8601 date or date and time: "2024-05-01", "2024-05-01T12:34", "2024-05-01 12:34:56",
// with fractions of a second, and "Z" or an offset ("+09:00", "-0500") for a time in UTC or that
// zone; without either it is the local time of this machine. dateOnly tells that no time was
// given (the start of that day). nullopt for anything else, or a date out of range.
std::optional<std::int64_t> parseIsoDateTime(std::string_view text, bool* dateOnly = nullptr);

}  // namespace tovik
