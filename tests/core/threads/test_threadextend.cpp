#include "threads/QThreadExtend.h"

#include <QElapsedTimer>
#include <QVector>
#include <QtTest>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

namespace {

// Runs until released or asked to close; counts its runs.
class TestWorker : public QThreadExtend
{
public:
    explicit TestWorker(bool runOnce = false) : runOnce(runOnce) {}
    ~TestWorker() override { Stop(); }

    std::atomic<int> runs{0};
    std::atomic<bool> release{false};
    std::atomic<bool> sawClose{false};
    bool markDone = false;
    // Written by DoRun: destroyed with the subclass, so DoRun must have ended by then.
    QVector<int> steps;

    using QThreadExtend::closeable;

protected:
    void DoRun() override
    {
        ++runs;
        if (markDone)
            SetDoneFlag();
        while (!release) {
            if (closeable->IsCloseRequested()) {
                sawClose = true;
                return;
            }
            steps.append(steps.size());
            if (steps.size() > 1000)
                steps.clear();
            QThread::usleep(200);
        }
    }

    bool HasDoneFlag() override { return runOnce; }

private:
    const bool runOnce;
};

} // namespace

class TestThreadExtend : public QObject
{
    Q_OBJECT

private slots:
    void racingStartsGiveOneRun()
    {
        TestWorker worker;
        std::atomic<bool> go{false};
        std::vector<std::thread> starters;
        for (int i = 0; i < 16; ++i) {
            starters.emplace_back([&] {
                while (!go)
                    std::this_thread::yield();
                for (int n = 0; n < 20; ++n)
                    worker.StartIfNotRunning();
            });
        }
        go = true;
        for (std::thread &starter : starters)
            starter.join();
        QVERIFY(worker.IsRunning());
        QTRY_COMPARE(worker.runs.load(), 1);
        QTest::qWait(20);
        QCOMPARE(worker.runs.load(), 1);

        worker.release = true;
        QTRY_VERIFY(!worker.IsRunning());
        QVERIFY(!worker.sawClose);
        // Idle again: it may run again.
        worker.release = false;
        worker.StartIfNotRunning();
        QTRY_COMPARE(worker.runs.load(), 2);
    }

    void stopEndsTheRunAndClearsTheRequest()
    {
        TestWorker worker;
        // Stop on an idle worker returns at once.
        QElapsedTimer timer;
        timer.start();
        worker.Stop();
        QVERIFY(timer.elapsed() < 1000);
        QVERIFY(!worker.IsCloseRequested());

        for (int run = 1; run <= 2; ++run) {
            worker.sawClose = false;
            worker.StartIfNotRunning();
            QTRY_COMPARE(worker.runs.load(), run);
            QTest::qWait(10);
            QVERIFY(!worker.sawClose && !worker.IsCloseRequested());
            worker.Stop();
            QVERIFY(!worker.IsRunning());
            QVERIFY(worker.sawClose); // the run saw the request through its cancel check
            QVERIFY(!worker.IsCloseRequested());
            QVERIFY(!worker.closeable->IsCloseRequested());
        }
    }

    void doneFlagEndsStartsOnlyForRunOnceWorkers_data()
    {
        QTest::addColumn<bool>("runOnce");
        QTest::newRow("run once") << true;
        QTest::newRow("repeatable") << false;
    }

    void doneFlagEndsStartsOnlyForRunOnceWorkers()
    {
        QFETCH(bool, runOnce);
        TestWorker worker(runOnce);
        worker.markDone = true;
        worker.release = true;
        QVERIFY(!worker.IsDone());
        for (int start = 1; start <= 3; ++start) {
            worker.StartIfNotRunning();
            QTRY_COMPARE(worker.runs.load(), runOnce ? 1 : start);
            QTRY_VERIFY(!worker.IsRunning());
            QCOMPARE(worker.IsDone(), runOnce);
        }
        QTest::qWait(20);
        QCOMPARE(worker.runs.load(), runOnce ? 1 : 3);
    }

    void runningWorkersDestroyedSafely()
    {
        // Concrete workers stop in their own destructor, before their members go.
        for (int i = 0; i < 20; ++i) {
            auto worker = std::make_unique<TestWorker>();
            worker->StartIfNotRunning();
            if (i % 2)
                QTRY_VERIFY(worker->runs.load() == 1);
            worker.reset();
        }
    }
};

QTEST_GUILESS_MAIN(TestThreadExtend)
#include "test_threadextend.moc"
