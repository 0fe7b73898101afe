#pragma once
// QString and the core's UTF-16 text hold the same units: converting is a copy, not a transcoding.
#include <QString>
#include <string>
#include <string_view>

inline std::u16string_view ToU16View(const QString& s) {
    return {reinterpret_cast<const char16_t*>(s.utf16()), static_cast<std::size_t>(s.size())};
}
inline std::u16string ToU16(const QString& s) { return std::u16string(ToU16View(s)); }
inline QString ToQString(std::u16string_view s) {
    return QString(reinterpret_cast<const QChar*>(s.data()), static_cast<qsizetype>(s.size()));
}
