#include "threads/NativeHelper.h"
#include "TestWorker.h"

#include <QtTest>

// Sets the one-way closing flag, so it runs in its own process.
class TestThreadExtendClosing : public QObject
{
    Q_OBJECT

private slots:
    void closingStopsRunsAndRefusesStarts()
    {
        TestWorker running;
        TestWorker neverRun;
        running.StartIfNotRunning();
        QTRY_COMPARE(running.runs.load(), 1);
        QVERIFY(!running.IsCloseRequested());

        NativeHelper::SetClosing();
        QVERIFY(NativeHelper::IsClosing());
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
    }
};

QTEST_GUILESS_MAIN(TestThreadExtendClosing)
#include "test_threadextend_closing.moc"
