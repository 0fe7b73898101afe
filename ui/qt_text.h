#pragma once
// QString and the core's UTF-16 text hold the same units: converting is a copy, not a transcoding.
#include <QDateTime>
#include <QLocale>
#include <QString>
#include <cstdint>
#include <string>
#include <string_view>

inline std::u16string_view toU16View(const QString& s) {
    return {reinterpret_cast<const char16_t*>(s.utf16()), static_cast<std::size_t>(s.size())};
}
inline std::u16string toU16(const QString& s) {
    return std::u16string(toU16View(s));
}
inline QString toQString(std::u16string_view s) {
    return QString(reinterpret_cast<const QChar*>(s.data()), static_cast<qsizetype>(s.size()));
}

// A key's last write time (a FILETIME) as this machine's local time in the locale's short form;
// empty for 0, a time the registry does not keep.
inline QString keyTimeText(std::int64_t fileTime) {
    if (fileTime <= 0) return {};
    constexpr std::int64_t kUnixEpoch = 116444736000000000;  // 1970-01-01 as a FILETIME
    const QDateTime local = QDateTime::fromMSecsSinceEpoch((fileTime - kUnixEpoch) / 10000).toLocalTime();
    return QLocale().toString(local, QLocale::ShortFormat);
}
