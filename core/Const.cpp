#include "Const.h"

#include "BuildConfig.h"
#include "Helper.h"
#include "catalogue/ItemBook.h"
#include "catalogue/ItemComparePart.h"

const QString Const::CompanyName = QStringLiteral("Quillory");
const QString Const::ProductName = QStringLiteral("Tessaly");
const QString Const::AppName = Const::ProductName;
const QString Const::SoftVersion = QStringLiteral("3.3.5");
const QString Const::VersionSuffix;
const QString Const::FullVersion = Const::SoftVersion + Const::VersionSuffix;

QString Const::ServiceBaseUrl = QStringLiteral(TESSALY_SERVICE_URL);
QString Const::VersionServiceBaseUrl = QStringLiteral(TESSALY_VERSION_SERVICE_URL);
QString Const::WebsiteUrl = QStringLiteral(TESSALY_WEBSITE_URL);
QString Const::CatalogSiteUrl = QStringLiteral(TESSALY_CATALOG_SITE_URL);
QString Const::StoreSiteUrl = QStringLiteral(TESSALY_STORE_SITE_URL);

// Filled by RecomputeDerivedUrls below, once the roots above are set.
QString Const::SoftwareUrl;
QString Const::DownloadUrl;
QString Const::VersionCheckUrl;
QString Const::HelpOneInstanceUrl;
QString Const::HelpLocalDocumentsUrl;
QString Const::HelpConfigFolderUrl;
QString Const::HelpImageCacheFolderUrl;
QString Const::HelpAutoStartUrl;
QString Const::SupportEmail = QStringLiteral(TESSALY_SUPPORT_EMAIL);

const QColor Const::ColorLightGreen(144, 238, 144);
const QColor Const::ColorPink(255, 192, 203);
const QColor Const::ColorOrange(255, 165, 0);
const QColor Const::ColorRed(255, 0, 0);
const QColor Const::ColorDimGray(105, 105, 105);

const QString Const::XmlDocumentElement = QStringLiteral("DocumentElement");
const QString Const::ListSeparator = QStringLiteral("|");
const QString Const::SeparatorEscape = QStringLiteral("@fix;");
const QString Const::RFileSuffix = QStringLiteral(".rfile");
const QString Const::RFileFilter = QStringLiteral("*") + Const::RFileSuffix;
const QString Const::PreFileSuffix = QStringLiteral(".prefile");
const QString Const::PreFileFilter = QStringLiteral("*") + Const::PreFileSuffix;
const QString Const::ArgBackground = QStringLiteral("/background");
const QString Const::ArgRestart = QStringLiteral("/restart");
const QString Const::MsgRaiseWindow = QStringLiteral("raise_window_noop");
const QVariant Const::NullVariant;
const ItemComparePart Const::EmptyComparePart(0, 0);
const QString Const::PlatformName = QStringLiteral("Mac");
const QString Const::PlatformSuffix = QStringLiteral(" ") + Const::PlatformName;
const QString Const::SoftwareKind =
    QString(Const::AppName).toLower().remove(QLatin1Char(' ')) + QStringLiteral("-mac");

QString Const::DownloadUrlWithInfo;
QString Const::VersionCheckUrlWithKind;
QString Const::SoftwareUrlWithKind;
QString Const::WebsiteLinkHtml;
QString Const::SupportEmailLinkHtml;

const QString Const::TableRuntimeCatalogInfo = QStringLiteral("runtime_cataloginfo");
const QString Const::TablePublishedBookInfo = QStringLiteral("published_bookinfo");
const ItemBook Const::EmptyItemBook;
const QString Const::XmlDisplayFolder = QStringLiteral("DisplayFolder");
const QString Const::XmlDisplayFolderSearch = QStringLiteral("DisplayFolderSearch");
const QString Const::XmlDisplayMeta = QStringLiteral("DisplayMeta");

QMutex Const::FileAccessMutex;
const QPair<qint64, qint64> Const::ZeroProgress(0, 0);

const QString Const::CatalogPasswordEnvelope =
    QStringLiteral("AwQrMnRpggG7H8EJN3al/iPchHXu/GOK1NtDHBz3dYv443xDfMhB4rmJMAkPuxbfo605FxjyJ/iWnB0w");

void Const::RecomputeDerivedUrls()
{
    SoftwareUrl = WebsiteUrl + QStringLiteral("service/goto.php?id=software");
    DownloadUrl = WebsiteUrl + QStringLiteral("service/goto.php?id=download");
    VersionCheckUrl = VersionServiceBaseUrl + QStringLiteral("/service/version.php?id=version");
    HelpOneInstanceUrl = WebsiteUrl + QStringLiteral("help/#oneinstance");
    HelpLocalDocumentsUrl = WebsiteUrl + QStringLiteral("help/#localdocuments");
    HelpConfigFolderUrl = WebsiteUrl + QStringLiteral("help/#configfolder");
    HelpImageCacheFolderUrl = WebsiteUrl + QStringLiteral("help/#imagecachefolder");
    HelpAutoStartUrl = WebsiteUrl + QStringLiteral("service/help.php?id=help&topic=mac-autostart");

    DownloadUrlWithInfo = Helper::GetUrlWithSoftwareInfo(DownloadUrl);
    VersionCheckUrlWithKind = Helper::AddUrlKind(VersionCheckUrl);
    SoftwareUrlWithKind = Helper::AddUrlKind(SoftwareUrl);
    WebsiteLinkHtml = Helper::MakeHtmlLink(WebsiteUrl, SoftwareUrlWithKind, false);
    SupportEmailLinkHtml =
        Helper::MakeHtmlLink(SupportEmail, QStringLiteral("mailto:") + SupportEmail, false);
}

void Const::SetServiceRootsForTesting(const QString &serviceUrl, const QString &versionServiceUrl,
                                      const QString &websiteUrl, const QString &catalogSiteUrl,
                                      const QString &storeSiteUrl)
{
    if (!serviceUrl.isEmpty())
        ServiceBaseUrl = serviceUrl;
    if (!versionServiceUrl.isEmpty())
        VersionServiceBaseUrl = versionServiceUrl;
    if (!websiteUrl.isEmpty())
        WebsiteUrl = websiteUrl;
    if (!catalogSiteUrl.isEmpty())
        CatalogSiteUrl = catalogSiteUrl;
    if (!storeSiteUrl.isEmpty())
        StoreSiteUrl = storeSiteUrl;
    RecomputeDerivedUrls();
}

void Const::ResetServiceRootsForTesting()
{
    ServiceBaseUrl = QStringLiteral(TESSALY_SERVICE_URL);
    VersionServiceBaseUrl = QStringLiteral(TESSALY_VERSION_SERVICE_URL);
    WebsiteUrl = QStringLiteral(TESSALY_WEBSITE_URL);
    CatalogSiteUrl = QStringLiteral(TESSALY_CATALOG_SITE_URL);
    StoreSiteUrl = QStringLiteral(TESSALY_STORE_SITE_URL);
    RecomputeDerivedUrls();
}

// Runs after every definition above (same file, so in order of definition).
struct ConstInitialiser
{
    ConstInitialiser() { Const::RecomputeDerivedUrls(); }
};
static const ConstInitialiser constInitialiser;
