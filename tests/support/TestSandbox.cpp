#include "TestSandbox.h"

#include "Const.h"
#include "TestHttpServer.h"

#include <QDateTime>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <csignal>
#include <sys/resource.h>

namespace TestSandbox {

bool UsePrivateHome(const QTemporaryDir &home)
{
    if (!home.isValid()) {
        qWarning("private home: the temporary folder is not valid");
        return false;
    }
    qputenv("HOME", home.path().toUtf8());
    QStandardPaths::setTestModeEnabled(true);
    return true;
}

bool UseLocalService(const QTemporaryDir &home, TestHttpServer &server)
{
    if (!UsePrivateHome(home))
        return false;
    if (!server.Start()) {
        qWarning("local service: the test server did not start");
        return false;
    }
    Const::SetServiceRootsForTesting(server.BaseUrl(), server.BaseUrl(), server.BaseUrl() + QLatin1Char('/'));
    return true;
}

QByteArray ReadBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool WriteBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        qWarning("cannot write %s", qPrintable(path));
        return false;
    }
    return file.write(bytes) == bytes.size();
}

bool SetAge(const QString &path, int seconds)
{
    QFile file(path);
    return file.open(QIODevice::ReadWrite)
           && file.setFileTime(QDateTime::currentDateTimeUtc().addSecs(-seconds), QFileDevice::FileModificationTime);
}

FileSizeLimit::FileSizeLimit(long long bytes)
{
    struct rlimit limit;
    getrlimit(RLIMIT_FSIZE, &limit);
    saved = limit.rlim_cur;
    savedHandler = std::signal(SIGXFSZ, SIG_IGN);
    limit.rlim_cur = rlim_t(bytes);
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
        qWarning("file size limit: setrlimit failed");
}

FileSizeLimit::~FileSizeLimit()
{
    struct rlimit limit;
    getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = rlim_t(saved);
    setrlimit(RLIMIT_FSIZE, &limit);
    std::signal(SIGXFSZ, savedHandler);
}

QByteArray CatalogueOkAnswer(const QByteArray &guid, const QByteArray &location, const QByteArray &md5)
{
    return "ok|" + guid + '|' + location + '|' + md5 + "|5|6";
}

} // namespace TestSandbox
