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

        QCOMPARE(Helper::GetLocalFilePath("native-config.file", Helper::FolderBase), base + "/native-config.file");
        // The file itself is not created.
        QVERIFY(!QFile::exists(base + "/native-config.file"));

        // An unknown data location gives no folder, never the root.
        for (int kind : {0, 1, 2, 5})
            QVERIFY(Helper::GetLocalFolderAt(QString(), kind).isEmpty());
        QVERIFY(Helper::EnsureFolder(QString()).isEmpty());
    }

    void texts_data()
    {
        QTest::addColumn<QString>("actual");
        QTest::addColumn<QString>("expected");
        const QString info = "os=2&fileversion=3011&softversion=3.3.5&kind=tessaly-mac";
        QTest::newRow("software query") << Helper::GetSoftwareInfoQuery() << info;
        QTest::newRow("url with info") << Helper::GetUrlWithSoftwareInfo("http://h/d") << "http://h/d?" + info;
        QTest::newRow("no url, no info") << Helper::GetUrlWithSoftwareInfo("") << QString();
        QTest::newRow("combine") << Helper::CombinePath("/a/b", "c.txt") << "/a/b/c.txt";
        QTest::newRow("combine empty") << Helper::CombinePath("/a/b", "") << "/a/b";
        QTest::newRow("combine slash left") << Helper::CombinePath("/a/b/", "c") << "/a/b/c";
        QTest::newRow("combine slash right") << Helper::CombinePath("/a/b", "/c") << "/a/b/c";
        QTest::newRow("query first") << Helper::AppendUrlQuery("http://h/p", "a=1", false) << "http://h/p?a=1";
        QTest::newRow("query more") << Helper::AppendUrlQuery("http://h/p?x=2", "a=1", false) << "http://h/p?x=2&a=1";
        QTest::newRow("query forced &") << Helper::AppendUrlQuery("http://h/p", "a=1", true) << "http://h/p&a=1";
        QTest::newRow("query empty") << Helper::AppendUrlQuery("http://h/p", "", false) << "http://h/p";
        QTest::newRow("kind added") << Helper::AddUrlKind("http://h/p?id=1") << "http://h/p?id=1&kind=tessaly-mac";
        QTest::newRow("KIND kept") << Helper::AddUrlKind("http://h/p?KIND=other") << "http://h/p?KIND=other";
        QTest::newRow("Kind kept") << Helper::AddUrlKind("http://h/p?Kind=x", true) << "http://h/p?Kind=x";
        // Html links are filled once: a % in the text or address is not a placeholder.
        QTest::newRow("link") << Helper::MakeHtmlLink("t", "http://h/", false) << "<a href='http://h/' >t</a>";
        QTest::newRow("red link") << Helper::MakeHtmlLink("t", "http://h/", true) << "<a href='http://h/' style='color:red;'>t</a>";
        QTest::newRow("link with %") << Helper::MakeHtmlLink("50%3 off", "http://h/?q=%2", false) << "<a href='http://h/?q=%2' >50%3 off</a>";
        QTest::newRow("0 books") << FormatBookCount(0) << "0 Books";
        QTest::newRow("1 book") << FormatBookCount(1) << "1 Book";
        QTest::newRow("caption") << FormatNameWithBookCount("Science", 12) << "Science (12 Books)";
        QTest::newRow("caption with %") << FormatNameWithBookCount("100%2 %1", 1) << "100%2 %1 (1 Book)";
        const QList<QPair<qint64, QString>> sizes = {{0, ""}, {1, "0 KB"}, {512, "1 KB"}, {1048576, "1024 KB"},
                                                       {1048577, "1.00 MB"}, {-5000000, "-4883 KB"}};
        for (const auto &size : sizes)
            QTest::addRow("size %lld", size.first) << FormatFileSize(size.first) << size.second;
        for (const QString ok : {"https://books.tessaly.example/b?id=1", "HTTPS://STORE.TESSALY.EXAMPLE/offer",
                                 "https://www.tessaly.example/"})
            QTest::addRow("allowed %s", qPrintable(ok)) << Helper::GetAllowedLink(ok) << ok;
        for (const QString bad : {"", "https://evil.example/", "https://www.tessaly.example.evil.example/",
                                  "javascript:alert(1)", "https://www.tessaly.example"})
            QTest::addRow("refused %s", qPrintable(bad)) << Helper::GetAllowedLink(bad) << QString();
        // Referenced so that the empty records stay defined.
        QTest::newRow("empty records") << QString::number(Const::EmptyComparePart.IsEmpty()) + Const::EmptyItemBook.orgPriceField
                                              + Const::EmptyItemBook.starsField << "1OrgPriceBookStars";
    }

    void texts()
    {
        QFETCH(QString, actual);
        QFETCH(QString, expected);
        QCOMPARE(actual, expected);
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
        QCOMPARE(Const::VersionCheckUrl, QString("https://version.tessaly.example/service/version.php?id=version"));
        // The version service is never the catalogue service's host.
        QVERIFY(QUrl(Const::VersionServiceBaseUrl).host() != QUrl(Const::ServiceBaseUrl).host());
        QCOMPARE(Const::SupportEmailLinkHtml,
                 QString("<a href='mailto:support@tessaly.example' >support@tessaly.example</a>"));
        QVERIFY(Helper::GetAllowedLink("http://127.0.0.1:8126/book/1").isEmpty());
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
};

QTEST_GUILESS_MAIN(TestHelper)
#include "test_helper.moc"
