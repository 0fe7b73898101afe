#pragma once
// One running copy per user: the first start holds a lock and listens on a local socket named
// after the window title; a later start finds it, asks it to come to the front (and to import the
// file the later start was given), and ends. Lock
// and socket live in a folder of the user's own (tovik-UID in the temporary folder, mode 0700),
// so that no other user can hold the lock, listen in the first copy's place or connect.
#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <memory>

class SingleInstance : public QObject {
    Q_OBJECT
public:
    explicit SingleInstance(const QString& name, QObject* parent = nullptr);
    ~SingleInstance() override;
    // True when this process is the first copy (it then listens); false when another copy runs,
    // which has then been asked to come to the front and, with fileToImport (an absolute path),
    // to import that file.
    bool acquire(const QString& fileToImport = {});
    // After Acquire returned false: whether the running copy took the request.
    bool reachedRunningCopy() const { return m_reached; }

signals:
    void activationRequested();
    // Before activationRequested, once the request's socket is no longer used.
    void importRequested(const QString& fileName);

private:
    bool askRunningCopy(const QByteArray& request);
    void readRequest(class QLocalSocket* socket, QByteArray& pending);

    QString m_name;
    QString m_serverPath;  // the socket's full path in the private folder
    std::unique_ptr<QLockFile> m_lock;
    QLocalServer m_server;
    bool m_reached = false;
};
