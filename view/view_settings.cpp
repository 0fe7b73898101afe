#include "view/view_settings.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include "files/safe_read.h"

namespace {

// QSettings opens its file with a blocking open: a FIFO or a device under that name would hang
// the window's start. Such a file is left alone and the settings last for this run only.
QString usableFileName(const QString& fileName) {
    tovik::files::ReadableFile file;
    const tovik::files::FileStatus opened = file.open(QFile::encodeName(fileName).toStdString());
    if (opened.problem == tovik::files::Problem::notRegularFile) return {};
    return fileName;
}

}  // namespace

ViewSettings::ViewSettings(const QString& fileName)
    : m_settings(std::make_unique<QSettings>(usableFileName(fileName), QSettings::IniFormat)) {}

QString ViewSettings::defaultFileName() {
    // GenericConfigLocation is $XDG_CONFIG_HOME, or ~/.config.
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QStringLiteral("/tovik/view.conf");
}

QString ViewSettings::lastKey() const {
    return m_settings->value(QStringLiteral("view/lastKey")).toString();
}

void ViewSettings::setLastKey(const QString& path) {
    m_settings->setValue(QStringLiteral("view/lastKey"), path);
}

QStringList ViewSettings::favourites() const {
    return m_settings->value(QStringLiteral("view/favourites")).toStringList();
}

void ViewSettings::setFavourites(const QStringList& paths) {
    m_settings->setValue(QStringLiteral("view/favourites"), paths);
}

QStringList ViewSettings::recentRegistries() const {
    return m_settings->value(QStringLiteral("registries/recent")).toStringList();
}

void ViewSettings::setRecentRegistries(const QStringList& entries) {
    m_settings->setValue(QStringLiteral("registries/recent"), entries);
}

void ViewSettings::sync() {
    m_settings->sync();
}
