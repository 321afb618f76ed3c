#include "Helper.h"

#include "Const.h"
#include "envelope/DisplayFolderEncrypterClass.h"

#include <QDebug>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QUrl>

QString Helper::GetLocalFolder(int kind)
{
    return GetLocalFolderAt(QStandardPaths::writableLocation(QStandardPaths::DataLocation), kind);
}

QString Helper::GetLocalFolderAt(const QString &dataLocation, int kind)
{
    // An unknown location must not turn into a folder relative to the working directory.
    if (dataLocation.isEmpty())
        return QString();
    QString path = dataLocation;
    // The base folder is a sibling of the data location, not a sub-folder of it.
    if (Const::AppName != Const::CompanyName)
        path += QStringLiteral("_LocalFolder");
    if (kind == FolderImageCache)
        path += QStringLiteral(" LocalCache1");
    else if (kind == FolderDatabase)
        path = CombinePath(path, QStringLiteral("database"));
    return EnsureFolder(path);
}

QString Helper::GetLocalFilePath(const QString &fileName, int kind)
{
    const QString folder = GetLocalFolder(kind);
    // Never "/name" at the file-system root.
    if (folder.isEmpty())
        return QString();
    return CombinePath(folder, fileName);
}

QString Helper::CombinePath(const QString &folder, const QString &name)
{
    if (name.isEmpty())
        return folder;
    if (!folder.endsWith(QLatin1Char('/')) && !name.startsWith(QLatin1Char('/')))
        return folder + QLatin1Char('/') + name;
    return folder + name;
}

QString Helper::EnsureFolder(const QString &path)
{
    if (path.isEmpty())
        return QString();
    QDir dir(path);
    if (!dir.exists())
        dir.mkpath(QStringLiteral("."));
    return dir.absolutePath();
}

QString Helper::GetApplicationDir()
{
    return QFileInfo(QCoreApplication::applicationFilePath()).path();
}

QString Helper::GetSoftwareInfoQuery()
{
    const QString query = QStringLiteral("os=%1&fileversion=%2&softversion=%3")
                              .arg(QString::number(2), QString::number(3011), Const::SoftVersion);
    return AddUrlKind(query, true);
}

QString Helper::AppendUrlQuery(const QString &address, const QString &query, bool forceAmpersand)
{
    if (query.isEmpty())
        return address;
    if (!forceAmpersand && !address.contains(QLatin1Char('?')))
        return address + QLatin1Char('?') + query;
    return address + QLatin1Char('&') + query;
}

QString Helper::AddUrlKind(const QString &address, bool forceAmpersand)
{
    if (address.contains(QStringLiteral("kind="), Qt::CaseInsensitive))
        return address;
    return AppendUrlQuery(address, QStringLiteral("kind=") + Const::SoftwareKind, forceAmpersand);
}

QString Helper::GetUrlWithSoftwareInfo(const QString &address)
{
    if (address.isEmpty())
        return QString();
    return AppendUrlQuery(address, GetSoftwareInfoQuery(), false);
}

QString Helper::GetAllowedLink(const QString &address)
{
    if (address.isEmpty())
        return QString();
    for (const QString *root : {&Const::CatalogSiteUrl, &Const::StoreSiteUrl, &Const::WebsiteUrl}) {
        // An unset root must not allow every address.
        if (!root->isEmpty() && address.startsWith(*root, Qt::CaseInsensitive))
            return address;
    }
    return QString();
}

namespace {

Helper::LinkNotOpenedNotice &LinkNotOpenedNoticeHook()
{
    static Helper::LinkNotOpenedNotice notice;
    return notice;
}

} // namespace

void Helper::SetLinkNotOpenedNotice(const LinkNotOpenedNotice &notice)
{
    LinkNotOpenedNoticeHook() = notice;
}

bool Helper::OpenLink(QString &address)
{
    if (address.isEmpty() || GetAllowedLink(address).isEmpty())
        return false;
    if (address.startsWith(Const::WebsiteUrl))
        address = AddUrlKind(address, false);
    qDebug().noquote() << QStringLiteral("go link: ") + address;
    if (QDesktopServices::openUrl(QUrl(address, QUrl::TolerantMode)))
        return true;
    // No browser: the user gets the link to open it by other means.
    if (const LinkNotOpenedNotice &notice = LinkNotOpenedNoticeHook())
        notice(address);
    else
        qWarning().noquote() << QStringLiteral("cannot open the web browser for ") + address;
    return false;
}

QString Helper::MakeHtmlLink(const QString &text, const QString &address, bool red)
{
    // One arg() call: a "%2" inside the address must not be filled again.
    return QStringLiteral("<a href='%1' %2>%3</a>")
        .arg(address, red ? QStringLiteral("style='color:red;'") : QString(), text);
}

QString Helper::GetCatalogPassword()
{
    const DisplayFolderEncrypterClass encrypter;
    return encrypter.DecryptString(Const::CatalogPasswordEnvelope);
}
