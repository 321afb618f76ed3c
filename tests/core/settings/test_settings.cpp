#include "TestLinkCatcher.h"
#include "Const.h"
#include "Helper.h"
#include "settings/NativeConfigLoader.h"
#include "threads/QWriteLockerExt2.h"
#include "TestSandbox.h"

#include <QTemporaryDir>
#include <QUrl>
#include <QtTest>

using TestSandbox::ReadBytes;
using TestSandbox::WriteBytes;

// The settings store and the links the program opens.
class TestSettings : public QObject
{
    Q_OBJECT
    QTemporaryDir dir;
    TestLinkCatcher recorder;

private slots:
    void initTestCase()
    {
        QVERIFY(TestSandbox::UsePrivateHome(dir));
        Const::ResetServiceRootsForTesting();
        recorder.Install();
    }

    void init() { recorder.opened.clear(); }

    void loadRules_data()
    {
        QTest::addColumn<QByteArray>("lines");
        QTest::addColumn<QVector<int>>("expected"); // covers and details page counts, minutes, view
        QTest::newRow("out of range")
            << QByteArray("Display_CoversView_PageCount=3\nDisplay_DetailsView_PageCount=500\n"
                          "Check_NewDatabase_Minutes=0\nDisplay_DefaultView=2\n")
            << QVector<int>{5, 210, 120, 1};
        QTest::newRow("bounds kept")
            << QByteArray("Display_CoversView_PageCount=5\nDisplay_DetailsView_PageCount=210\n"
                          "Check_NewDatabase_Minutes=1\nDisplay_DefaultView=1\n")
            << QVector<int>{5, 210, 1, 1};
        QTest::newRow("not numbers")
            << QByteArray("Display_CoversView_PageCount=abc\nCheck_NewDatabase_Minutes=abc\nDisplay_DefaultView=x\n")
            << QVector<int>{5, 100, 120, 0};
    }

    void loadRules()
    {
        QFETCH(QByteArray, lines);
        QFETCH(QVector<int>, expected);
        const QByteArray content = "[NativeConfig]\n" + lines;
        // A path per row: QSettings would take a same-sized file written in the same second for unchanged.
        const QString path = dir.filePath(QString::fromLatin1(QTest::currentDataTag()));
        WriteBytes(path, content);
        NativeConfigLoader loader(path);
        QVERIFY(loader.Load());
        const NativeConfigSettings s = loader.GetCurrentSettings();
        const QVector<int> loaded{s.Display_CoversView_PageCount, s.Display_DetailsView_PageCount,
                                  s.Check_NewDatabase_Minutes, s.Display_DefaultView};
        QCOMPARE(loaded, expected);
        QCOMPARE(ReadBytes(path), content); // corrections stay in memory
    }

    void saveResultIsTheWritesOwn_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("writeFails");
        const QByteArray clean = "[NativeConfig]\nCheck_NewVersion=false\n";
        for (bool fails : {false, true}) {
            QTest::addRow("clean%s", fails ? ", write fails" : "") << clean << fails;
            QTest::addRow("malformed line%s", fails ? ", write fails" : "") << clean + "[broken\n" << fails;
        }
        QTest::newRow("other keys kept") << QByteArray("[Other]\nkeep=1\n[NativeConfig]\nUnknown_Key=7\n") << false;
    }

    void saveResultIsTheWritesOwn()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, writeFails);
        // A path of its own: QSettings keeps a failed write's values for the next user of a path.
        const QString path = dir.filePath(QString::fromLatin1(QTest::currentDataTag()));
        WriteBytes(path, content);
        NativeConfigLoader loader(path);
        QVERIFY(loader.Load());
        QWriteLockerExt2 token(&loader.lock);
        loader.currentSettings.Display_CoversView_PageCount = 42;
        bool ok;
        {
            TestSandbox::FileSizeLimit limit(writeFails ? 8 : 1 << 20);
            ok = loader.SaveToFile(token);
        }
        QCOMPARE(ok, !writeFails);
        QCOMPARE(ReadBytes(path).contains("Display_CoversView_PageCount=42"), !writeFails);
        QCOMPARE(ReadBytes(path).contains("keep=1") && ReadBytes(path).contains("Unknown_Key=7"), content.contains("keep=1"));
    }

    void writeDeniedWarning()
    {
        const char text[] = "You don't have permission to write the configuration file, "
                            "do you want to get more information?";
        QTest::ignoreMessage(QtWarningMsg, text);
        NativeConfigLoader::ShowWriteDeniedWarning(nullptr);

        QStringList asked;
        bool answer = false;
        NativeConfigLoader::SetWriteDeniedPrompt([&](QWidget *, const QString &title, const QString &question) {
            asked = QStringList{title, question};
            return answer;
        });
        NativeConfigLoader::ShowWriteDeniedWarning(nullptr);
        QCOMPARE(asked, (QStringList{"Info", text}));
        QVERIFY(recorder.opened.isEmpty());
        answer = true;
        NativeConfigLoader::ShowWriteDeniedWarning(nullptr);
        QCOMPARE(recorder.opened, QList<QUrl>{QUrl(Const::HelpConfigFolderUrl + "?kind=tessaly-mac")});
        NativeConfigLoader::SetWriteDeniedPrompt(nullptr);
    }

    void openLinkOnlyOpensAllowedAddresses_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("opened"); // empty: refused
        QTest::addColumn<QString>("after");  // what the caller's address holds afterwards
        for (const QString bad : {"", "https://evil.example/x", "https://www.tessaly.example.evil.example/",
                                  "javascript:alert(1)", "https://www.tessaly.example"})
            QTest::addRow("refused %s", qPrintable(bad)) << bad << QString() << bad;
        // Host in capitals: allowed and opened, but not a product-site link (case-sensitive).
        const QString capitals("https://BOOKS.TESSALY.EXAMPLE/b?id=7");
        QTest::newRow("host in capitals") << capitals << "https://books.tessaly.example/b?id=7" << capitals;
        // Product-site links get the kind, and the caller sees it.
        const QString help = Const::HelpConfigFolderUrl + "?kind=tessaly-mac";
        QTest::newRow("product site") << Const::HelpConfigFolderUrl << help << help;
        QTest::newRow("kind given") << Const::SoftwareUrlWithKind << Const::SoftwareUrlWithKind << Const::SoftwareUrlWithKind;
    }

    void openLinkOnlyOpensAllowedAddresses()
    {
        QFETCH(QString, address);
        QFETCH(QString, opened);
        QFETCH(QString, after);
        QCOMPARE(Helper::OpenLink(address), !opened.isEmpty());
        QCOMPARE(address, after);
        QCOMPARE(recorder.opened, opened.isEmpty() ? QList<QUrl>() : QList<QUrl>{QUrl(opened)});
    }
};

QTEST_GUILESS_MAIN(TestSettings)
#include "test_settings.moc"
