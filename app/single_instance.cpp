#include "app/single_instance.h"

#include <QDir>
#include <QElapsedTimer>
#include <QLocalSocket>
#include <QThread>

namespace {
constexpr int kWaitMs = 2000;
constexpr char kActivate[] = "activate\n";
}

SingleInstance::SingleInstance(const QString& name, QObject* parent) : QObject(parent), m_name(name) {
    connect(&m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = m_server.nextPendingConnection()) {
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                if (socket->readAll().contains("activate")) emit activationRequested();
                socket->disconnectFromServer();
            });
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::Acquire() {
    // The lock decides who is first even when two copies start at the same moment; a lock left
    // by a copy that crashed is taken over.
    m_lock = std::make_unique<QLockFile>(QDir(QDir::tempPath()).filePath(m_name + QStringLiteral(".lock")));
    m_lock->setStaleLockTime(0);
    if (m_lock->tryLock(0)) {
        QLocalServer::removeServer(m_name);   // a socket file left by a crashed copy
        m_server.setSocketOptions(QLocalServer::UserAccessOption);
        m_server.listen(m_name);
        return true;
    }
    askRunningCopy();
    return false;
}

bool SingleInstance::askRunningCopy() {
    // The first copy may still be starting: try for a while before giving up quietly.
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < kWaitMs) {
        QLocalSocket socket;
        socket.connectToServer(m_name);
        if (socket.waitForConnected(200)) {
            socket.write(kActivate);
            socket.waitForBytesWritten(500);
            socket.waitForDisconnected(500);
            return true;
        }
        QThread::msleep(50);
    }
    return false;
}
