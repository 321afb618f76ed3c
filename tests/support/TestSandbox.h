#pragma once

#include <QByteArray>
#include <QString>

class QTemporaryDir;
class TestHttpServer;

// Set-up shared by the tests that need data folders of their own or the local service.
namespace TestSandbox {

// Points the data folders into home (HOME and Qt's test mode); false when home is not usable.
bool UsePrivateHome(const QTemporaryDir &home);

// UsePrivateHome, then starts server and points the service, version and web roots at it.
// False (with a warning saying which step) when any step fails.
bool UseLocalService(const QTemporaryDir &home, TestHttpServer &server);

// The file's bytes; empty when it is missing or cannot be read.
QByteArray ReadBytes(const QString &path);

// Replaces the file's content; false when it cannot be opened or not all bytes were written.
bool WriteBytes(const QString &path, const QByteArray &bytes);

// Moves the file's modification time seconds into the past; false when that fails.
bool SetAge(const QString &path, int seconds);

// While it lives, writes beyond bytes fail (even for root) instead of raising SIGXFSZ.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(long long bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;

private:
    unsigned long long saved;
    void (*savedHandler)(int);
};

// A catalogue service answer announcing the file at location: "ok|guid|location|md5|5|6".
QByteArray CatalogueOkAnswer(const QByteArray &guid, const QByteArray &location, const QByteArray &md5);

} // namespace TestSandbox
