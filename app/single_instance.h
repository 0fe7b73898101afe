#pragma once
// One running copy per user: the first start holds a lock and listens on a local socket named
// after the window title; a later start finds it, asks it to come to the front, and ends. Lock
// and socket live in a folder of the user's own (tovik-UID in the temporary folder, mode 0700),
// so that no other user can hold the lock, listen in the first copy's place or connect.
#include <QLockFile>
#include <QLocalServer>
#include <QObject>
#include <memory>

class SingleInstance : public QObject {
    Q_OBJECT
public:
    explicit SingleInstance(const QString& name, QObject* parent = nullptr);
    ~SingleInstance() override;
    // True when this process is the first copy (it then listens); false when another copy runs,
    // which has then been asked to come to the front.
    bool Acquire();

signals:
    void activationRequested();

private:
    bool askRunningCopy();

    QString m_name;
    QString m_serverPath;   // the socket's full path in the private folder
    std::unique_ptr<QLockFile> m_lock;
    QLocalServer m_server;
};
