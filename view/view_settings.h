#pragma once
// What the view remembers between runs: the last key, the favourites and the registries opened
// recently, in one QSettings file (by default $XDG_CONFIG_HOME/tovik/view.conf,
// ~/.config/tovik/view.conf without it).
#include <QSettings>
#include <QString>
#include <QStringList>
#include <memory>

class ViewSettings {
public:
    explicit ViewSettings(const QString& fileName = defaultFileName());
    static QString defaultFileName();

    // Full key paths ("HKEY_LOCAL_MACHINE\Software\Sample").
    QString lastKey() const;
    void setLastKey(const QString& path);
    QStringList favourites() const;
    void setFavourites(const QStringList& paths);
    // The registries opened recently, newest first, one line of JSON each (view/registry_request.h).
    QStringList recentRegistries() const;
    void setRecentRegistries(const QStringList& entries);
    void sync();

private:
    std::unique_ptr<QSettings> m_settings;
};
