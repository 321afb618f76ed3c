#include "Const.h"
#include "Helper.h"
#include "settings/NativeConfigLoader.h"
#include "threads/NativeHelper.h"
#include "threads/QWriteLockerExt2.h"

#include <QDesktopServices>
#include <QFile>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>
#include <QtTest>

#include <atomic>
#include <csignal>
#include <sys/resource.h>
#include <thread>

namespace {

void writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class UrlRecorder : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl &url) { opened.append(url); }
};

class TestSettings : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;
    QString path;

    bool load(const QByteArray &content, NativeConfigSettings &loaded)
    {
        writeFile(path, content);
        NativeConfigLoader loader(path);
        const bool ok = loader.Load();
        loaded = loader.GetCurrentSettings();
        return ok;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        qputenv("HOME", QFile::encodeName(dir.path()));
        QStandardPaths::setTestModeEnabled(true);
    }

    void init()
    {
        path = dir.filePath("native-config.file");
        QFile::remove(path);
    }

    void missingFileGivesDefaultsAndStaysMissing()
    {
        QCOMPARE(NativeConfigLoader().filePath, Helper::GetLocalFolder(Helper::FolderBase) + "/native-config.file");
        NativeConfigLoader loader(path);
        QVERIFY(loader.Load());
        const NativeConfigSettings s = loader.GetCurrentSettings();
        QVERIFY(s == loader.defaultSettings);
        QCOMPARE(s.Start_AutoStart, false);
        QCOMPARE(s.Start_AutoMinimized, true);
        QCOMPARE(s.Start_AutoMaximized, true);
        QCOMPARE(s.App_Close_to_tray, false);
        QCOMPARE(s.App_Minimize_to_tray, false);
        QCOMPARE(s.Check_NewVersion, true);
        QCOMPARE(s.Check_NewDatabase, true);
        QCOMPARE(s.Check_NewDatabase_Minutes, 120);
        QCOMPARE(s.Display_DefaultView, int(View_Covers));
        QCOMPARE(s.Display_CoversView_PageCount, 100);
        QCOMPARE(s.Display_DetailsView_PageCount, 100);
        QCOMPARE(s.Advance_UseDirectGoLink, true);
        QVERIFY(!QFile::exists(path));
    }

    void loadRules_data()
    {
        QTest::addColumn<QByteArray>("lines");
        QTest::addColumn<int>("covers");
        QTest::addColumn<int>("details");
        QTest::addColumn<int>("minutes");
        QTest::addColumn<int>("view");
        QTest::newRow("low and high page counts")
            << QByteArray("Display_CoversView_PageCount=3\nDisplay_DetailsView_PageCount=500\n") << 5 << 210 << 120 << 1;
        QTest::newRow("bounds kept") << QByteArray("Display_CoversView_PageCount=5\nDisplay_DetailsView_PageCount=210\n")
                                     << 5 << 210 << 120 << 1;
        QTest::newRow("zero minutes") << QByteArray("Check_NewDatabase_Minutes=0\n") << 100 << 100 << 120 << 1;
        QTest::newRow("negative minutes") << QByteArray("Check_NewDatabase_Minutes=-5\n") << 100 << 100 << 120 << 1;
        QTest::newRow("one minute") << QByteArray("Check_NewDatabase_Minutes=1\n") << 100 << 100 << 1 << 1;
        QTest::newRow("view 2") << QByteArray("Display_DefaultView=2\n") << 100 << 100 << 120 << 1;
        QTest::newRow("view -1") << QByteArray("Display_DefaultView=-1\n") << 100 << 100 << 120 << 1;
        QTest::newRow("view 0") << QByteArray("Display_DefaultView=0\n") << 100 << 100 << 120 << 0;
        QTest::newRow("not numbers")
            << QByteArray("Display_CoversView_PageCount=abc\nCheck_NewDatabase_Minutes=abc\nDisplay_DefaultView=x\n")
            << 5 << 100 << 120 << 0;
    }

    void loadRules()
    {
        QFETCH(QByteArray, lines);
        QFETCH(int, covers);
        QFETCH(int, details);
        QFETCH(int, minutes);
        QFETCH(int, view);
        const QByteArray content = "[NativeConfig]\n" + lines;
        NativeConfigSettings s;
        QVERIFY(load(content, s));
        QCOMPARE(s.Display_CoversView_PageCount, covers);
        QCOMPARE(s.Display_DetailsView_PageCount, details);
        QCOMPARE(s.Check_NewDatabase_Minutes, minutes);
        QCOMPARE(s.Display_DefaultView, view);
        // Corrections stay in memory: the file is untouched.
        QCOMPARE(readFile(path), content);
    }

    void booleansAndOtherGroups()
    {
        NativeConfigSettings s;
        QVERIFY(load("[Other]\nStart_AutoStart=true\n[NativeConfig]\nStart_AutoMinimized=false\n"
                     "Start_AutoMaximized=0\nApp_Close_to_tray=true\nApp_Minimize_to_tray=1\n"
                     "Check_NewVersion=false\nAdvance_UseDirectGoLink=false\n",
                     s));
        QCOMPARE(s.Start_AutoStart, false); // only the NativeConfig group counts
        QCOMPARE(s.Start_AutoMinimized, false);
        QCOMPARE(s.Start_AutoMaximized, false);
        QCOMPARE(s.App_Close_to_tray, true);
        QCOMPARE(s.App_Minimize_to_tray, true);
        QCOMPARE(s.Check_NewVersion, false);
        QCOMPARE(s.Check_NewDatabase, true);
        QCOMPARE(s.Advance_UseDirectGoLink, false);
    }

    void saveWritesEveryKeyAndKeepsTheRest()
    {
        writeFile(path, "[Other]\nkeep=1\n[NativeConfig]\nUnknown_Key=7\nDisplay_CoversView_PageCount=3\n");
        NativeConfigLoader loader(path);
        QVERIFY(loader.Load());
        {
            QWriteLockerExt2 token(&loader.lock);
            NativeConfigSettings &c = loader.currentSettings;
            c.Start_AutoStart = true;
            c.Start_AutoMinimized = false;
            c.Start_AutoMaximized = false;
            c.App_Close_to_tray = true;
            c.App_Minimize_to_tray = true;
            c.Check_NewVersion = false;
            c.Check_NewDatabase = false;
            c.Check_NewDatabase_Minutes = 0; // saved as set: no clamping on save
            c.Display_DefaultView = View_Details;
            c.Display_CoversView_PageCount = 300;
            c.Display_DetailsView_PageCount = 20;
            c.Advance_UseDirectGoLink = false;
            QVERIFY(loader.SaveToFile(token));
        }

        QSettings file(path, QSettings::IniFormat);
        QCOMPARE(file.value("Other/keep").toInt(), 1);
        QCOMPARE(file.value("NativeConfig/Unknown_Key").toInt(), 7);
        file.beginGroup("NativeConfig");
        QCOMPARE(file.childKeys().size(), 13);
        QCOMPARE(file.value("Check_NewDatabase_Minutes").toInt(), 0);
        QCOMPARE(file.value("Display_CoversView_PageCount").toInt(), 300);
        QVERIFY(readFile(path).contains("Start_AutoStart=true"));
        QVERIFY(readFile(path).contains("Display_DefaultView=0"));

        NativeConfigLoader again(path);
        QVERIFY(again.Load());
        NativeConfigSettings expected = loader.GetCurrentSettings();
        expected.Check_NewDatabase_Minutes = 120;
        expected.Display_CoversView_PageCount = 210;
        QVERIFY(again.GetCurrentSettings() == expected);
    }

    void unusablePathsAreRefused()
    {
        // A file where the folder should be: neither readable as settings nor writable (also as root).
        const QString blocker = dir.filePath("blocker");
        writeFile(blocker, "x");
        for (const QString &bad : {QString(), blocker + "/native-config.file", dir.path()}) {
            NativeConfigLoader loader(bad);
            loader.currentSettings.Display_CoversView_PageCount = 42;
            QVERIFY2(!loader.Load(), qPrintable(bad));
            QCOMPARE(loader.currentSettings.Display_CoversView_PageCount, 42);
            QWriteLockerExt2 token(&loader.lock);
            QVERIFY2(!loader.SaveToFile(token), qPrintable(bad));
        }
        QCOMPARE(readFile(blocker), QByteArray("x"));
    }

    void saveResultIsTheWritesOwn_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("writeFails");
        const QByteArray malformed = "[NativeConfig]\nCheck_NewVersion=false\n[broken\n";
        QTest::newRow("clean") << QByteArray("[NativeConfig]\nCheck_NewVersion=false\n") << false;
        QTest::newRow("malformed line") << malformed << false;
        QTest::newRow("clean, write fails") << QByteArray("[NativeConfig]\nCheck_NewVersion=false\n") << true;
        QTest::newRow("malformed line, write fails") << malformed << true;
    }

    void saveResultIsTheWritesOwn()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, writeFails);
        // A path of its own: QSettings keeps a failed write's values for the next user of a path.
        path = dir.filePath(QString::fromLatin1(QTest::currentDataTag()));
        writeFile(path, content);
        NativeConfigLoader loader(path);
        QVERIFY(loader.Load());
        QWriteLockerExt2 token(&loader.lock);
        loader.currentSettings.Display_CoversView_PageCount = 42;
        // A file size limit makes the write fail, even for root.
        struct rlimit saved;
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
        const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit small = saved;
        small.rlim_cur = writeFails ? 8 : saved.rlim_cur;
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
        const bool ok = loader.SaveToFile(token);
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, previousHandler);
        QCOMPARE(ok, !writeFails);
        QCOMPARE(readFile(path).contains("Display_CoversView_PageCount=42"), !writeFails);
    }

    void saveWaitsForConfigLocker()
    {
        NativeConfigLoader loader(path);
        std::atomic<int> result{-1};
        NativeHelper::_configLocker->lockForRead(); // as the shutdown worker does
        std::thread saver([&] {
            QWriteLockerExt2 token(&loader.lock);
            result = loader.SaveToFile(token) ? 1 : 0;
        });
        QTest::qWait(100);
        QCOMPARE(result.load(), -1);
        QVERIFY(!QFile::exists(path));
        NativeHelper::_configLocker->unlock();
        saver.join();
        QCOMPARE(result.load(), 1);
        QVERIFY(QFile::exists(path));
    }

    void writeDeniedWarning()
    {
        UrlRecorder recorder;
        QDesktopServices::setUrlHandler(QStringLiteral("https"), &recorder, "open");

        NativeConfigLoader::SetWriteDeniedPrompt(nullptr);
        QTest::ignoreMessage(QtWarningMsg, "You don't have permission to write the configuration file, "
                                           "do you want to get more information?");
        NativeConfigLoader::ShowWriteDeniedWarning(nullptr);

        QString title;
        QString text;
        bool answer = false;
        NativeConfigLoader::SetWriteDeniedPrompt([&](QWidget *, const QString &t, const QString &x) {
            title = t;
            text = x;
            return answer;
        });
        NativeConfigLoader::ShowWriteDeniedWarning(nullptr);
        QCOMPARE(title, QString("Info"));
        QVERIFY(text.startsWith("You don't have permission"));
        QVERIFY(recorder.opened.isEmpty());

        answer = true;
        NativeConfigLoader::ShowWriteDeniedWarning(nullptr);
        QCOMPARE(recorder.opened.size(), 1);
        QCOMPARE(recorder.opened.at(0).toString(), Const::HelpConfigFolderUrl + "?kind=tessaly-mac");

        NativeConfigLoader::SetWriteDeniedPrompt(nullptr);
        QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    }
};

QTEST_GUILESS_MAIN(TestSettings)
#include "test_settings.moc"
