#pragma once

#include <QByteArray>
#include <QHash>
#include <QLockFile>
#include <QObject>
#include <QString>
#include <QTimer>

class QLocalServer;
class QLocalSocket;

// One running instance per user and data folder: a lock file decides who is first,
// a local socket carries short text messages from later starts to the first one.
class SingleInstanceGuard : public QObject
{
    Q_OBJECT

public:
    // Longest message (UTF-8 bytes) a first instance accepts; longer ones are dropped unread.
    static constexpr int MaxMessageBytes = 4096;

    explicit SingleInstanceGuard(const QString &key, QObject *parent = nullptr);
    ~SingleInstanceGuard() override;

    // Socket name for a data folder: the user id and a hash of the cleaned path.
    static QString KeyForDataFolder(const QString &dataFolder);

    // The folder of the lock and of the socket socketName, the first that is private to the user
    // and short enough for the socket: $XDG_RUNTIME_DIR, else a 0700 folder of our own in the
    // temporary folder, else one in the user's cache. Empty when none will do.
    static QString RuntimeFolder(const QString &socketName);

    QString serverName() const { return key; }
    QString lockFilePath() const;
    QString socketPath() const;

    // Takes the guard lock without waiting; true when no other live process holds it. A lock
    // whose owner is gone, unreadable, or on another machine and old is taken over.
    bool Claim();
    // Removes a socket left behind by a crashed instance and starts listening. Needs Claim.
    // While primary, listening resumes by itself when the server stops (e.g. out of descriptors).
    bool Listen();
    bool IsPrimary() const { return primary; }
    // Claim failed without another instance holding the lock: nobody can be reached either.
    bool IsUnusable() const { return unusable; }
    bool IsListening() const;

    // Delivers a message to the first instance, retrying while it has not started listening.
    // True only when the first instance confirmed receipt within the time-out.
    bool SendMessage(const QString &message, int timeoutMs) const;

signals:
    void messageReceived(const QString &message);

private slots:
    void OnNewConnection();
    void CheckListening();

private:
    void ReadFrom(QLocalSocket *socket);
    void Drop(QLocalSocket *socket);

    QString key;
    QString lockPath;
    QLockFile lockFile;
    QLocalServer *server = nullptr;
    bool primary = false;
    bool lockHeld = false;
    bool unusable = false;
    QTimer listenWatch;
    QHash<QLocalSocket *, QByteArray> pending;
};
