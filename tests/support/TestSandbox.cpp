#include "TestSandbox.h"

#include "Const.h"
#include "TestHttpServer.h"

#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtGlobal>

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

QByteArray CatalogueOkAnswer(const QByteArray &guid, const QByteArray &location, const QByteArray &md5)
{
    return "ok|" + guid + '|' + location + '|' + md5 + "|5|6";
}

} // namespace TestSandbox
