#include "Const.h"
#include "Formatters.h"
#include "Helper.h"
#include "catalogue/ItemBook.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>
#include <QtTest>

// Records what the desktop would have opened, instead of starting a browser.
class UrlRecorder : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl &url) { opened.append(url); }
};

class TestHelper : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir home;
    UrlRecorder recorder;

private slots:
    void initTestCase()
    {
        QVERIFY(home.isValid());
        // Test-mode locations live under $HOME; keep them inside the temporary folder.
        qputenv("HOME", QFile::encodeName(home.path()));
        QStandardPaths::setTestModeEnabled(true);
        QDesktopServices::setUrlHandler(QStringLiteral("https"), &recorder, "open");
        QDesktopServices::setUrlHandler(QStringLiteral("http"), &recorder, "open");
    }

    void cleanupTestCase()
    {
        QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
        QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
    }

    void init()
    {
        recorder.opened.clear();
        Const::ResetServiceRootsForTesting();
    }

    void localFoldersAreSiblingsCreatedInTestMode()
    {
        const QString location = QStandardPaths::writableLocation(QStandardPaths::DataLocation);
        QVERIFY(location.startsWith(home.path()));

        const QString base = Helper::GetLocalFolder(Helper::FolderBase);
        const QString cache = Helper::GetLocalFolder(Helper::FolderImageCache);
        const QString database = Helper::GetLocalFolder(Helper::FolderDatabase);
        QCOMPARE(base, location + "_LocalFolder");
        QCOMPARE(cache, location + "_LocalFolder LocalCache1");
        QCOMPARE(database, location + "_LocalFolder/database");
        QCOMPARE(Helper::GetLocalFolder(7), base);
        for (const QString &folder : {base, cache, database})
            QVERIFY2(QFileInfo(folder).isDir() && QFileInfo(folder).isAbsolute(), qPrintable(folder));

        QCOMPARE(Helper::GetLocalFilePath("native-config.file", Helper::FolderBase),
                 base + "/native-config.file");
        // The file itself is not created.
        QVERIFY(!QFile::exists(base + "/native-config.file"));
    }

    void unknownDataLocationGivesNoFolder()
    {
        for (int kind : {0, 1, 2, 5})
            QVERIFY(Helper::GetLocalFolderAt(QString(), kind).isEmpty());
        QVERIFY(Helper::EnsureFolder(QString()).isEmpty());

    }

    void combinePath()
    {
        QCOMPARE(Helper::CombinePath("/a/b", "c.txt"), QString("/a/b/c.txt"));
        QCOMPARE(Helper::CombinePath("/a/b", ""), QString("/a/b"));
        QCOMPARE(Helper::CombinePath("/a/b/", "c"), QString("/a/b/c"));
        QCOMPARE(Helper::CombinePath("/a/b", "/c"), QString("/a/b/c"));
        QCOMPARE(Helper::CombinePath("/a/b/", "/c"), QString("/a/b//c"));
    }

    void softwareQueryAndKind()
    {
        QCOMPARE(Helper::GetSoftwareInfoQuery(),
                 QString("os=2&fileversion=3011&softversion=3.3.5&kind=tessaly-mac"));
        QCOMPARE(Const::SoftwareKind, QString("tessaly-mac"));
        QCOMPARE(Const::FullVersion, QString("3.3.5"));
        QVERIFY(Const::EmptyComparePart.IsEmpty());
        QCOMPARE(Const::EmptyItemBook.orgPriceField, QString("OrgPrice"));
        QCOMPARE(Const::EmptyItemBook.starsField, QString("BookStars"));

        QCOMPARE(Helper::AppendUrlQuery("http://h/p", "a=1", false), QString("http://h/p?a=1"));
        QCOMPARE(Helper::AppendUrlQuery("http://h/p?x=2", "a=1", false), QString("http://h/p?x=2&a=1"));
        QCOMPARE(Helper::AppendUrlQuery("http://h/p", "a=1", true), QString("http://h/p&a=1"));
        QCOMPARE(Helper::AppendUrlQuery("http://h/p", "", false), QString("http://h/p"));

        QCOMPARE(Helper::AddUrlKind("http://h/p?id=1"), QString("http://h/p?id=1&kind=tessaly-mac"));
        QCOMPARE(Helper::AddUrlKind("http://h/p?KIND=other"), QString("http://h/p?KIND=other"));
        QCOMPARE(Helper::AddUrlKind("http://h/p?Kind=x", true), QString("http://h/p?Kind=x"));

        QCOMPARE(Helper::GetUrlWithSoftwareInfo(""), QString());
        QCOMPARE(Helper::GetUrlWithSoftwareInfo("http://h/d"),
                 QString("http://h/d?os=2&fileversion=3011&softversion=3.3.5&kind=tessaly-mac"));
    }

    void derivedAddressesFollowTheRoots()
    {
        Const::SetServiceRootsForTesting("http://127.0.0.1:8123", "http://127.0.0.1:8124",
                                         "http://127.0.0.1:8125/", "http://127.0.0.1:8126/");
        QCOMPARE(Const::ServiceBaseUrl, QString("http://127.0.0.1:8123"));
        QCOMPARE(Const::VersionCheckUrlWithKind,
                 QString("http://127.0.0.1:8124/service/version.php?id=version&kind=tessaly-mac"));
        QCOMPARE(Const::DownloadUrlWithInfo,
                 QString("http://127.0.0.1:8125/service/goto.php?id=download&os=2&fileversion=3011"
                         "&softversion=3.3.5&kind=tessaly-mac"));
        QCOMPARE(Const::HelpConfigFolderUrl, QString("http://127.0.0.1:8125/help/#configfolder"));
        QCOMPARE(Const::WebsiteLinkHtml,
                 QString("<a href='http://127.0.0.1:8125/service/goto.php?id=software&kind=tessaly-mac' >"
                         "http://127.0.0.1:8125/</a>"));
        QCOMPARE(Helper::GetAllowedLink("http://127.0.0.1:8126/book/1"), QString("http://127.0.0.1:8126/book/1"));
        // The store root was kept.
        QCOMPARE(Const::StoreSiteUrl, QString("https://store.tessaly.example/"));

        Const::ResetServiceRootsForTesting();
        QCOMPARE(Const::VersionCheckUrl, QString("https://service.tessaly.example/service/version.php?id=version"));
        QCOMPARE(Const::SupportEmailLinkHtml,
                 QString("<a href='mailto:support@tessaly.example' >support@tessaly.example</a>"));
        QVERIFY(Helper::GetAllowedLink("http://127.0.0.1:8126/book/1").isEmpty());
    }

    void allowedLinks()
    {
        QCOMPARE(Helper::GetAllowedLink(""), QString());
        for (const QString &ok : {QString("https://books.tessaly.example/b?id=1"),
                                  QString("HTTPS://STORE.TESSALY.EXAMPLE/offer"),
                                  QString("https://www.tessaly.example/")})
            QCOMPARE(Helper::GetAllowedLink(ok), ok);
        for (const QString &bad : {QString("https://evil.example/"),
                                   QString("https://www.tessaly.example.evil.example/"),
                                   QString("javascript:alert(1)"), QString("https://www.tessaly.example")})
            QVERIFY2(Helper::GetAllowedLink(bad).isEmpty(), qPrintable(bad));
    }

    void openLinkOnlyOpensAllowedAddresses()
    {
        QString other("https://evil.example/x");
        Helper::OpenLink(other);
        QString empty;
        Helper::OpenLink(empty);
        QVERIFY(recorder.opened.isEmpty());
        QCOMPARE(other, QString("https://evil.example/x"));

        // Host in capitals: allowed, opened, but not a product-site link (case-sensitive).
        QString capitals("https://BOOKS.TESSALY.EXAMPLE/b?id=7");
        Helper::OpenLink(capitals);
        QCOMPARE(recorder.opened.size(), 1);
        QCOMPARE(recorder.opened.at(0).host(), QString("books.tessaly.example"));
        QCOMPARE(capitals, QString("https://BOOKS.TESSALY.EXAMPLE/b?id=7"));

        // Product-site links get the kind, and the caller sees it.
        QString help = Const::HelpConfigFolderUrl;
        Helper::OpenLink(help);
        QCOMPARE(help, Const::HelpConfigFolderUrl + "?kind=tessaly-mac");
        QCOMPARE(recorder.opened.size(), 2);
        QCOMPARE(recorder.opened.at(1).toString(), help);

        QString software = Const::SoftwareUrlWithKind;
        Helper::OpenLink(software);
        QCOMPARE(software, Const::SoftwareUrlWithKind);
        QCOMPARE(recorder.opened.size(), 3);
    }

    void htmlLinksAreFilledOnce()
    {
        QCOMPARE(Helper::MakeHtmlLink("t", "http://h/", false), QString("<a href='http://h/' >t</a>"));
        QCOMPARE(Helper::MakeHtmlLink("t", "http://h/", true),
                 QString("<a href='http://h/' style='color:red;'>t</a>"));
        QCOMPARE(Helper::MakeHtmlLink("50%3 off", "http://h/?q=%2", false),
                 QString("<a href='http://h/?q=%2' >50%3 off</a>"));
    }

    void formatters()
    {
        QCOMPARE(FormatBookCount(0), QString("0 Books"));
        QCOMPARE(FormatBookCount(1), QString("1 Book"));
        QCOMPARE(FormatBookCount(2), QString("2 Books"));
        QCOMPARE(FormatBookCount(-1), QString("-1 Books"));
        QCOMPARE(FormatNameWithBookCount("Science", 12), QString("Science (12 Books)"));
        QCOMPARE(FormatNameWithBookCount("100%2 %1", 1), QString("100%2 %1 (1 Book)"));

        QCOMPARE(FormatFileSize(0), QString());
        QCOMPARE(FormatFileSize(1), QString("0 KB"));
        QCOMPARE(FormatFileSize(512), QString("1 KB"));
        QCOMPARE(FormatFileSize(1023), QString("1 KB"));
        QCOMPARE(FormatFileSize(1048576), QString("1024 KB"));
        QCOMPARE(FormatFileSize(1048577), QString("1.00 MB"));
        QCOMPARE(FormatFileSize(-2048), QString("-2 KB"));
        QCOMPARE(FormatFileSize(-5000000), QString("-4883 KB"));
    }
};

QTEST_GUILESS_MAIN(TestHelper)
#include "test_helper.moc"
