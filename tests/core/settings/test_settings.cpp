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
        QTest::addColumn<QVector<int>>("expected"); // every setting, in the order of the struct
        QTest::newRow("no keys") << QByteArray() << QVector<int>{0, 1, 1, 0, 0, 1, 1, 120, 1, 100, 100, 1};
        QTest::newRow("every key")
            << QByteArray("Start_AutoStart=true\nStart_AutoMinimized=false\nStart_AutoMaximized=false\n"
                          "App_Close_to_tray=true\nApp_Minimize_to_tray=true\nCheck_NewVersion=false\n"
                          "Check_NewDatabase=false\nCheck_NewDatabase_Minutes=30\nDisplay_DefaultView=0\n"
                          "Display_CoversView_PageCount=20\nDisplay_DetailsView_PageCount=40\nAdvance_UseDirectGoLink=false\n")
            << QVector<int>{1, 0, 0, 1, 1, 0, 0, 30, 0, 20, 40, 0};
        // Page counts, minutes and view, each given as covers|details|minutes|view.
        const char *const numbers = "Display_CoversView_PageCount=%1\nDisplay_DetailsView_PageCount=%2\n"
                                    "Check_NewDatabase_Minutes=%3\nDisplay_DefaultView=%4\n";
        auto given = [numbers](const QString &values) {
            const QStringList v = values.split(QLatin1Char('|'));
            return QString::fromLatin1(numbers).arg(v.at(0), v.at(1), v.at(2), v.at(3)).toLatin1();
        };
        QTest::newRow("one outside") << given("4|211|0|2") << QVector<int>{0, 1, 1, 0, 0, 1, 1, 120, 1, 5, 210, 1};
        QTest::newRow("far outside") << given("-5|100000|-1|-1") << QVector<int>{0, 1, 1, 0, 0, 1, 1, 120, 1, 5, 210, 1};
        QTest::newRow("bounds kept") << given("5|210|1|0") << QVector<int>{0, 1, 1, 0, 0, 1, 1, 1, 0, 5, 210, 1};
        QTest::newRow("not numbers") << given("abc|100|abc|x") << QVector<int>{0, 1, 1, 0, 0, 1, 1, 120, 0, 5, 100, 1};
    }

    void loadRules()
    {
        QFETCH(QByteArray, lines);
        QFETCH(QVector<int>, expected);
        const QByteArray content = "[NativeConfig]\n" + lines;
        // A path per row: QSettings would take a same-sized file written in the same second for unchanged.
        const QString path = dir.filePath(QString::fromLatin1(QTest::currentDataTag()));
        QVERIFY(WriteBytes(path, content));
        NativeConfigLoader loader(path);
        QVERIFY(loader.Load());
        const NativeConfigSettings s = loader.GetCurrentSettings();
        QCOMPARE((QVector<int>{s.Start_AutoStart, s.Start_AutoMinimized, s.Start_AutoMaximized, s.App_Close_to_tray,
                               s.App_Minimize_to_tray, s.Check_NewVersion, s.Check_NewDatabase, s.Check_NewDatabase_Minutes,
                               s.Display_DefaultView, s.Display_CoversView_PageCount, s.Display_DetailsView_PageCount,
                               s.Advance_UseDirectGoLink}), expected);
        QCOMPARE(ReadBytes(path), content); // corrections stay in memory
    }

    void saveResultIsTheWritesOwn_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("writeFails");
        QTest::addColumn<QByteArray>("after"); // the whole file
        // Every key, the defaults but for the page count the test sets.
        const QByteArray saved = "[NativeConfig]\nAdvance_UseDirectGoLink=true\nApp_Close_to_tray=false\n"
                                 "App_Minimize_to_tray=false\nCheck_NewDatabase=true\nCheck_NewDatabase_Minutes=120\n"
                                 "Check_NewVersion=true\nDisplay_CoversView_PageCount=42\nDisplay_DefaultView=1\n"
                                 "Display_DetailsView_PageCount=100\nStart_AutoMaximized=true\nStart_AutoMinimized=true\n"
                                 "Start_AutoStart=false\n";
        for (const QByteArray &content : {QByteArray("[NativeConfig]\nCheck_NewVersion=false\n"),
                                          QByteArray("[NativeConfig]\nCheck_NewVersion=false\n[broken\n")}) {
            for (bool fails : {false, true})
                QTest::addRow("%s%s", content.contains("[broken") ? "malformed line" : "clean", fails ? ", write fails" : "")
                    << content << fails << (fails ? content : saved);
        }
        QTest::newRow("other keys kept") << QByteArray("[Other]\nkeep=1\n[NativeConfig]\nUnknown_Key=7\n") << false
                                         << saved + "Unknown_Key=7\n\n[Other]\nkeep=1\n";
    }

    void saveResultIsTheWritesOwn()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, writeFails);
        QFETCH(QByteArray, after);
        // A path of its own: QSettings keeps a failed write's values for the next user of a path.
        const QString path = dir.filePath(QString::fromLatin1(QTest::currentDataTag()));
        QVERIFY(WriteBytes(path, content));
        // Not loaded first: the save's own read of the file is the one that meets a malformed line.
        NativeConfigLoader loader(path);
        QWriteLockerExt2 token(&loader.lock);
        loader.currentSettings.Display_CoversView_PageCount = 42;
        bool ok;
        {
            TestSandbox::FileSizeLimit limit(writeFails ? 8 : 1 << 20);
            ok = loader.SaveToFile(token);
        }
        QCOMPARE(ok, !writeFails);
        QCOMPARE(ReadBytes(path), after);
    }

    // Without a window to ask in, the warning goes to the log and opens nothing.
    void writeDeniedWarningWithoutPrompt()
    {
        QTest::ignoreMessage(QtWarningMsg, "You don't have permission to write the configuration file, "
                                           "do you want to get more information?");
        NativeConfigLoader::ShowWriteDeniedWarning(nullptr);
        QVERIFY(recorder.opened.isEmpty());
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
