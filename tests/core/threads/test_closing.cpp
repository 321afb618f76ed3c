#include "settings/NativeConfigLoader.h"
#include "threads/NativeHelper.h"
#include "threads/QWriteLockerExt2.h"
#include "TestSandbox.h"
#include "TestWorker.h"

#include <QTemporaryDir>
#include <QtTest>

// Once the program closes, a running worker ends by itself, no worker starts and the settings are
// not saved. The closing flag is one-way, hence an executable of its own.
class TestClosing : public QObject
{
    Q_OBJECT

private slots:
    void closingStopsWorkersAndSaves()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("native-config.file");
        const QByteArray before("[NativeConfig]\nCheck_NewVersion=true\n");
        QVERIFY(TestSandbox::WriteBytes(path, before));
        NativeConfigLoader loader(path);
        TestWorker running;
        TestWorker neverRun;
        running.StartIfNotRunning();
        QTRY_COMPARE(running.runs.load(), 1);
        QVERIFY(!running.IsCloseRequested());

        NativeHelper::SetClosing();
        // The running pass ends at its next close test, without Stop.
        QTRY_VERIFY(running.sawClose.load());
        QTRY_VERIFY(!running.IsRunning());
        QVERIFY(running.IsCloseRequested());

        neverRun.StartIfNotRunning();
        running.StartIfNotRunning();
        QTest::qWait(20);
        QCOMPARE(neverRun.runs.load(), 0);
        QCOMPARE(running.runs.load(), 1);
        QVERIFY(!neverRun.IsRunning());

        QWriteLockerExt2 token(&loader.lock);
        loader.currentSettings.Check_NewVersion = false;
        QVERIFY(!loader.SaveToFile(token));
        QCOMPARE(TestSandbox::ReadBytes(path), before);
        // The refusal released _configLocker.
        QVERIFY(NativeHelper::_configLocker->tryLockForWrite());
        NativeHelper::_configLocker->unlock();
    }
};

QTEST_GUILESS_MAIN(TestClosing)
#include "test_closing.moc"
