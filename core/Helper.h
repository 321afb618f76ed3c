#pragma once

#include <QCoreApplication>
#include <QString>

#include <functional>

class QFrame;

// Small shared functions: data folders, paths, service queries, links.
// Helper is also a translation context of shared texts.
class Helper
{
    Q_DECLARE_TR_FUNCTIONS(Helper)
public:
    Helper() = delete;

    // Folder kinds of GetLocalFolder.
    enum LocalFolderKind { FolderBase = 0, FolderImageCache = 1, FolderDatabase = 2 };

    // Absolute path of the data folder of the given kind, created when missing.
    // Empty when the data location is unknown (callers check before use).
    static QString GetLocalFolder(int kind);
    // The same, starting from the given data location instead of the standard one.
    static QString GetLocalFolderAt(const QString &dataLocation, int kind);
    // The file's path in the data folder of the given kind; empty when that folder is.
    static QString GetLocalFilePath(const QString &fileName, int kind);
    // Joins folder and name with one "/" between them (both kept when both have it).
    static QString CombinePath(const QString &folder, const QString &name);
    // Creates the folder with its parents when missing; returns its absolute path.
    static QString EnsureFolder(const QString &path);
    static QString GetApplicationDir();

    // os=2&fileversion=3011&softversion=<version>&kind=<kind>
    static QString GetSoftwareInfoQuery();
    static QString AppendUrlQuery(const QString &address, const QString &query, bool forceAmpersand);
    static QString AddUrlKind(const QString &address, bool forceAmpersand = false);
    static QString GetUrlWithSoftwareInfo(const QString &address);

    // The address when it starts (any case) with one of the allowed web-site roots, else empty.
    static QString GetAllowedLink(const QString &address);
    // Opens an allowed address in the browser; links to the product site get the kind parameter,
    // which the caller's text receives too. Anything else is silently refused. When the desktop
    // cannot open the browser the notice installed below tells the user (false is returned).
    static bool OpenLink(QString &address);
    using LinkNotOpenedNotice = std::function<void(const QString &address)>;
    static void SetLinkNotOpenedNotice(const LinkNotOpenedNotice &notice);
    static QString MakeHtmlLink(const QString &text, const QString &address, bool red);

    // The catalogue database password, deciphered from Const::CatalogPasswordEnvelope.
    static QString GetCatalogPassword();

    // A horizontal line; defined in the ui library (needs QtWidgets).
    static QFrame *CreateLine();
};
