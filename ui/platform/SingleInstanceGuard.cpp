#include "platform/SingleInstanceGuard.h"

#include "platform/StaleLockBreaker.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>
#include <QTimer>
#include <QtEndian>

#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {
// Frame: 4-byte big-endian length, then the UTF-8 text. The receiver answers one byte.
constexpr int HeaderBytes = 4;
constexpr char AckByte = 'A';
// A client that neither completes its frame nor disconnects is dropped after this.
constexpr int StalledClientMs = 5000;
constexpr int RetryPauseMs = 50;
// How often a first instance makes sure that it still listens.
constexpr int ListenWatchMs = 500;

// Longest path a local socket can have (the address holds a terminating zero).
constexpr int MaxSocketPathBytes = int(sizeof(sockaddr_un::sun_path)) - 1;

// A real folder (not a link) of this user whose permission bits under mask are exactly bits.
bool FolderHasMode(const QString &folder, mode_t mask, mode_t bits)
{
    struct stat info;
    if (::lstat(QFile::encodeName(folder).constData(), &info) != 0 || !S_ISDIR(info.st_mode)
        || info.st_uid != ::geteuid())
        return false;
    return (info.st_mode & mask) == bits;
}

bool SocketFits(const QString &folder, const QString &name)
{
    return QFile::encodeName(folder + QLatin1Char('/') + name).size() <= MaxSocketPathBytes;
}

// A folder of the program's own: made 0700 when missing, and used only when it is exactly that,
// so that one somebody else put there first (or a link) is never trusted. Never chmod-ed.
QString OwnFolder(const QString &folder)
{
    ::mkdir(QFile::encodeName(folder).constData(), 0700);
    return FolderHasMode(folder, 07777, 0700) ? folder : QString();
}

QString LockPathFor(const QString &key)
{
    const QString folder = SingleInstanceGuard::RuntimeFolder(key);
    return folder.isEmpty() ? QString() : folder + QLatin1Char('/') + key + QStringLiteral(".lock");
}
} // namespace

QString SingleInstanceGuard::RuntimeFolder(const QString &socketName)
{
    // The user's runtime folder is taken as it is: its mode is not ours to change.
    const QString runtime = QDir::cleanPath(QFile::decodeName(qgetenv("XDG_RUNTIME_DIR")));
    if (QDir::isAbsolutePath(runtime) && FolderHasMode(runtime, 077, 0) && SocketFits(runtime, socketName))
        return runtime;
    // Short whatever the home folder's length; one per user, as the check above rejects other owners.
    const QString temp = QDir::cleanPath(QDir::tempPath() + QStringLiteral("/tessaly-%1").arg(::geteuid()));
    if (SocketFits(temp, socketName)) {
        const QString own = OwnFolder(temp);
        if (!own.isEmpty())
            return own;
    }
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    const QString own = QDir::cleanPath(cache + QStringLiteral("/tessaly-runtime"));
    if (cache.isEmpty() || !SocketFits(own, socketName))
        return QString();
    QDir().mkpath(cache);
    return OwnFolder(own);
}

SingleInstanceGuard::SingleInstanceGuard(const QString &key, QObject *parent)
    : QObject(parent)
    , key(key)
    , lockPath(LockPathFor(key))
    , lockFile(lockPath)
{
    listenWatch.setInterval(ListenWatchMs);
    connect(&listenWatch, &QTimer::timeout, this, &SingleInstanceGuard::CheckListening);
}

SingleInstanceGuard::~SingleInstanceGuard()
{
    if (server) {
        server->close();
    }
    if (lockHeld) {
        lockFile.unlock();
    }
}

QString SingleInstanceGuard::KeyForDataFolder(const QString &dataFolder)
{
    const QString uid = QString::number(static_cast<qulonglong>(::getuid()));
    const QByteArray source = (uid + QLatin1Char('\n') + QDir::cleanPath(dataFolder)).toUtf8();
    const QByteArray digest = QCryptographicHash::hash(source, QCryptographicHash::Sha1).toHex().left(24);
    return QStringLiteral("tessaly-%1-%2").arg(uid, QString::fromLatin1(digest));
}

QString SingleInstanceGuard::lockFilePath() const
{
    return lockPath;
}

QString SingleInstanceGuard::socketPath() const
{
    return lockPath.isEmpty() ? QString() : lockPath.left(lockPath.size() - int(qstrlen(".lock")));
}

bool SingleInstanceGuard::Claim()
{
    if (primary) {
        return true;
    }
    const QString path = lockFilePath();
    const StaleLockBreaker::Result result =
        path.isEmpty() ? StaleLockBreaker::Unusable : StaleLockBreaker::TryLock(lockFile, path);
    primary = lockHeld = result == StaleLockBreaker::Taken;
    unusable = result == StaleLockBreaker::Unusable;
    return primary;
}

bool SingleInstanceGuard::Listen()
{
    if (!primary) {
        return false;
    }
    if (IsListening()) {
        return true;
    }
    if (!server) {
        server = new QLocalServer(this);
        server->setSocketOptions(QLocalServer::UserAccessOption);
        connect(server, &QLocalServer::newConnection, this, &SingleInstanceGuard::OnNewConnection);
    }
    // After a failed accept the server has closed its socket yet still counts itself listening.
    server->close();
    listenWatch.start();
    // Holding the lock, any socket file of this name belongs to a crashed instance.
    QLocalServer::removeServer(socketPath());
    return server->listen(socketPath());
}

void SingleInstanceGuard::CheckListening()
{
    if (primary && !IsListening())
        Listen();
}

bool SingleInstanceGuard::IsListening() const
{
    // The server removes its socket when accepting fails (e.g. out of descriptors).
    return server && server->isListening() && QFileInfo::exists(socketPath());
}

bool SingleInstanceGuard::SendMessage(const QString &message, int timeoutMs) const
{
    const QByteArray payload = message.toUtf8();
    if (payload.size() > MaxMessageBytes || unusable || socketPath().isEmpty()) {
        return false;
    }
    QByteArray frame(HeaderBytes, '\0');
    qToBigEndian<quint32>(static_cast<quint32>(payload.size()), frame.data());
    frame += payload;

    QElapsedTimer clock;
    clock.start();
    const auto remaining = [&clock, timeoutMs]() { return qMax(0, timeoutMs - static_cast<int>(clock.elapsed())); };

    for (;;) {
        QLocalSocket socket;
        socket.connectToServer(socketPath());
        if (socket.waitForConnected(qMax(1, remaining()))) {
            socket.write(frame);
            while (socket.bytesToWrite() > 0) {
                if (remaining() == 0 || !socket.waitForBytesWritten(remaining())) {
                    return false;
                }
            }
            // Once the frame went out it is never sent again: a late answer must not mean two deliveries.
            while (socket.bytesAvailable() < 1) {
                if (remaining() == 0 || !socket.waitForReadyRead(remaining())) {
                    return false;
                }
            }
            char answer = 0;
            return socket.getChar(&answer) && answer == AckByte;
        }
        // Nobody listens yet: the first instance holds its lock but is still starting.
        if (remaining() == 0) {
            return false;
        }
        QThread::msleep(static_cast<unsigned long>(qMin(RetryPauseMs, remaining())));
        if (remaining() == 0) {
            return false;
        }
    }
}

void SingleInstanceGuard::OnNewConnection()
{
    while (QLocalSocket *socket = server->nextPendingConnection()) {
        pending.insert(socket, QByteArray());
        connect(socket, &QLocalSocket::readyRead, this, [this, socket]() { ReadFrom(socket); });
        connect(socket, &QLocalSocket::disconnected, this, [this, socket]() { Drop(socket); });
        QTimer::singleShot(StalledClientMs, socket, [this, socket]() { Drop(socket); });
        ReadFrom(socket);
    }
}

void SingleInstanceGuard::ReadFrom(QLocalSocket *socket)
{
    auto it = pending.find(socket);
    if (it == pending.end()) {
        return;
    }
    QByteArray &buffer = it.value();
    // Never buffer more than one frame can hold.
    const qint64 room = HeaderBytes + MaxMessageBytes - buffer.size();
    buffer += socket->read(qMax<qint64>(room, 0));
    if (buffer.size() < HeaderBytes) {
        return;
    }
    const quint32 length = qFromBigEndian<quint32>(buffer.constData());
    if (length > static_cast<quint32>(MaxMessageBytes)) {
        Drop(socket);
        return;
    }
    if (buffer.size() < HeaderBytes + static_cast<int>(length)) {
        return;
    }
    const QString message = QString::fromUtf8(buffer.constData() + HeaderBytes, static_cast<int>(length));
    pending.erase(it);
    socket->write(&AckByte, 1);
    socket->flush();
    socket->disconnectFromServer();
    socket->deleteLater();
    emit messageReceived(message);
}

void SingleInstanceGuard::Drop(QLocalSocket *socket)
{
    if (pending.remove(socket) == 0) {
        return;
    }
    socket->abort();
    socket->deleteLater();
}
