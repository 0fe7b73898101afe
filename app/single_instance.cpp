#include "app/single_instance.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalSocket>
#include <QStringList>
#include <QThread>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

namespace {
constexpr int kWaitMs = 2000;
// A request is lines: "import BASE64-OF-THE-PATH" when there is a file, then "activate", which
// ends it. A path may hold any byte but NUL, hence the encoding.
constexpr char kActivate[] = "activate";
constexpr char kImport[] = "import ";
constexpr qsizetype kMostRequestBytes = 64 * 1024;

// The folder for the lock and the socket: made 0700 when missing; used only when it is a real
// folder (not a link) owned by this user. Empty when there is no such folder, for instance when
// another user made one of that name first.
QString privateChannelFolder() {
    const uid_t uid = ::getuid();
    const QByteArray folder = QFile::encodeName(QDir(QDir::tempPath()).filePath(QStringLiteral("tovik-%1").arg(uid)));
    if (::mkdir(folder.constData(), 0700) != 0 && errno != EEXIST) return {};
    struct stat st {};
    if (::lstat(folder.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != uid) return {};
    if ((st.st_mode & 077) != 0 && ::chmod(folder.constData(), 0700) != 0) return {};
    return QFile::decodeName(folder);
}
}  // namespace

SingleInstance::SingleInstance(const QString& name, QObject* parent) : QObject(parent), m_name(name) {
    connect(&m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = m_server.nextPendingConnection()) {
            // A request may arrive in pieces: the lines are taken as they complete.
            auto pending = std::make_shared<QByteArray>();
            connect(socket, &QLocalSocket::readyRead, this, [this, socket, pending] { readRequest(socket, *pending); });
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
}

void SingleInstance::readRequest(QLocalSocket* socket, QByteArray& pending) {
    pending += socket->readAll();
    QStringList files;
    bool activate = false;
    qsizetype end;
    while (!activate && (end = pending.indexOf('\n')) >= 0) {
        const QByteArray line = pending.left(end);
        pending.remove(0, end + 1);
        if (line.startsWith(kImport)) {
            const auto decoded = QByteArray::fromBase64Encoding(line.mid(static_cast<qsizetype>(sizeof kImport) - 1),
                                                                QByteArray::AbortOnBase64DecodingErrors);
            if (decoded && !decoded.decoded.isEmpty()) files << QString::fromUtf8(decoded.decoded);
        } else {
            activate = line == kActivate;
        }
    }
    if (!activate) {
        if (pending.size() > kMostRequestBytes) socket->disconnectFromServer();  // no request is that long
        return;
    }
    // Done with the socket before anyone hears of the request: a receiver may open a dialog,
    // whose event loop can delete the socket and pending with it.
    socket->disconnectFromServer();
    for (const QString& file : files) emit importRequested(file);
    emit activationRequested();
}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::acquire(const QString& fileToImport) {
    // The lock decides who is first even when two copies start at the same moment; a lock left
    // by a copy that crashed is taken over.
    const QString folder = privateChannelFolder();
    if (folder.isEmpty()) {
        // Without a safe place for the channel this copy runs on its own rather than trust a
        // lock or a socket that someone else may hold.
        qWarning("tovik: no private folder for the single-instance channel; running without it");
        return true;
    }
    m_serverPath = QDir(folder).filePath(m_name);
    m_lock = std::make_unique<QLockFile>(m_serverPath + QStringLiteral(".lock"));
    m_lock->setStaleLockTime(0);
    if (m_lock->tryLock(0)) {
        QLocalServer::removeServer(m_serverPath);  // a socket file left by a crashed copy
        m_server.setSocketOptions(QLocalServer::UserAccessOption);
        m_server.listen(m_serverPath);
        return true;
    }
    QByteArray request;
    if (!fileToImport.isEmpty()) request += kImport + fileToImport.toUtf8().toBase64() + '\n';
    request += QByteArray(kActivate) + '\n';
    m_reached = askRunningCopy(request);
    return false;
}

bool SingleInstance::askRunningCopy(const QByteArray& request) {
    // The first copy may still be starting: try for a while before giving up quietly.
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < kWaitMs) {
        QLocalSocket socket;
        socket.connectToServer(m_serverPath);
        if (socket.waitForConnected(200)) {
            socket.write(request);
            if (!socket.waitForBytesWritten(500) && socket.bytesToWrite() > 0) return false;
            socket.waitForDisconnected(500);
            return true;
        }
        QThread::msleep(50);
    }
    return false;
}
