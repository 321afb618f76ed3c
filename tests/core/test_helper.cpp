#include "TestLinkCatcher.h"
#include "Const.h"
#include "Helper.h"

#include <QDesktopServices>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>
#include <QtTest>

class TestHelper : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir home;
    TestLinkCatcher recorder;

private slots:
    void initTestCase()
    {
        QVERIFY(home.isValid());
        // Test-mode locations live under $HOME; keep them inside the temporary folder.
        qputenv("HOME", QFile::encodeName(home.path()));
        QStandardPaths::setTestModeEnabled(true);
        recorder.Install();
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

    void openLinkOnlyOpensAllowedAddresses()
    {
        QString other("https://evil.example/x");
        Helper::OpenLink(other);
        QString empty;
        Helper::OpenLink(empty);
        QVERIFY(recorder.opened.isEmpty());
        QCOMPARE(other, QString("https://evil.example/x"));
        for (const QString bad : {"https://www.tessaly.example.evil.example/", "javascript:alert(1)", "https://www.tessaly.example"})
            QVERIFY2(Helper::GetAllowedLink(bad).isEmpty(), qPrintable(bad));

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
