#pragma once

#include <QColor>
#include <QCoreApplication>
#include <QMutex>
#include <QPair>
#include <QString>
#include <QVariant>

class QSizePolicy;
class ItemComparePart;
class ItemBook;

// Program-wide constants. They are set during static initialisation of Const.cpp and never
// change afterwards (apart from the test-only setter below). Don't read them from another
// file's static initialiser: the order between files is undefined.
// Const is also the translation context of the shared user-visible texts ("Info", "Error", ...).
class Const
{
    Q_DECLARE_TR_FUNCTIONS(Const)
public:
    Const() = delete;

    static const QString CompanyName;
    static const QString ProductName;
    static const QString AppName;
    static const QString SoftVersion;
    static const QString VersionSuffix;
    static const QString FullVersion;

    // Service roots, from BuildConfig.h unless a test changed them (SetServiceRootsForTesting).
    // Catalogue service base: scheme and host, no final "/"; service paths are appended to it.
    static QString ServiceBaseUrl;
    // Version service base: scheme and host, no final "/".
    static QString VersionServiceBaseUrl;
    // Product web site root, with the final "/". Allowed link root.
    static QString WebsiteUrl;
    // The two other allowed link roots (catalogue web site, online store), with the final "/".
    static QString CatalogSiteUrl;
    static QString StoreSiteUrl;

    static QString SoftwareUrl;
    static QString DownloadUrl;
    static QString VersionCheckUrl;
    static QString HelpOneInstanceUrl;
    static QString HelpLocalDocumentsUrl;
    static QString HelpConfigFolderUrl;
    static QString HelpImageCacheFolderUrl;
    static QString HelpAutoStartUrl;
    static QString SupportEmail;

    static const QColor ColorLightGreen;
    static const QColor ColorPink;
    static const QColor ColorOrange;
    static const QColor ColorRed;
    static const QColor ColorDimGray;

    static const QString XmlDocumentElement;
    static const QString ListSeparator;
    static const QString SeparatorEscape;
    static const QString RFileSuffix;
    static const QString RFileFilter;
    static const QString PreFileSuffix;
    static const QString PreFileFilter;
    static const QString ArgBackground;
    static const QString ArgRestart;
    static const QString MsgRaiseWindow;
    static const QVariant NullVariant;
    // The key of no cover: {0, 0}.
    static const ItemComparePart EmptyComparePart;
    static const QString PlatformName;
    static const QString PlatformSuffix;
    // "kind=" value: the app name lower-cased without blanks, "-", the platform (tessaly-mac).
    static const QString SoftwareKind;

    static QString DownloadUrlWithInfo;
    static QString VersionCheckUrlWithKind;
    static QString SoftwareUrlWithKind;
    static QString WebsiteLinkHtml;
    static QString SupportEmailLinkHtml;

    static const QString TableRuntimeCatalogInfo;
    static const QString TablePublishedBookInfo;
    // Source of the column names of the filter conditions.
    static const ItemBook EmptyItemBook;
    static const QString XmlDisplayFolder;
    static const QString XmlDisplayFolderSearch;
    static const QString XmlDisplayMeta;

    // Expanding in both directions, stretch 1 and 1. Defined in the ui library (needs QtWidgets).
    static const QSizePolicy ExpandingSizePolicy;

    // Serialises every clearing of the cache folders.
    static QMutex FileAccessMutex;
    // (done, total) of a transfer that has not started.
    static const QPair<qint64, qint64> ZeroProgress;

    // The catalogue database password as an 80-character Base64 envelope of
    // DisplayFolderEncrypterClass; Helper::GetCatalogPassword deciphers it.
    static const QString CatalogPasswordEnvelope;

    // Tests only: points the service roots elsewhere (for example http://127.0.0.1:PORT) and
    // recomputes every address derived from them (version query, software and help pages,
    // link htmls, allowed roots). An empty argument keeps that root as it is.
    // Call it before any thread that reads the constants starts.
    static void SetServiceRootsForTesting(const QString &serviceUrl,
                                          const QString &versionServiceUrl,
                                          const QString &websiteUrl,
                                          const QString &catalogSiteUrl = QString(),
                                          const QString &storeSiteUrl = QString());
    // Tests only: back to the values of the build.
    static void ResetServiceRootsForTesting();

private:
    static void RecomputeDerivedUrls();
    friend struct ConstInitialiser;
};
