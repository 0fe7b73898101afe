#include "view/view_settings.h"

#include <QDir>
#include <QStandardPaths>

ViewSettings::ViewSettings(const QString& fileName)
    : m_settings(std::make_unique<QSettings>(fileName, QSettings::IniFormat)) {}

QString ViewSettings::DefaultFileName() {
    // GenericConfigLocation is $XDG_CONFIG_HOME, or ~/.config.
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QStringLiteral("/tovik/view.conf");
}

QString ViewSettings::LastKey() const { return m_settings->value(QStringLiteral("view/lastKey")).toString(); }

void ViewSettings::SetLastKey(const QString& path) { m_settings->setValue(QStringLiteral("view/lastKey"), path); }

QStringList ViewSettings::Favourites() const {
    return m_settings->value(QStringLiteral("view/favourites")).toStringList();
}

void ViewSettings::SetFavourites(const QStringList& paths) {
    m_settings->setValue(QStringLiteral("view/favourites"), paths);
}

void ViewSettings::Sync() { m_settings->sync(); }
