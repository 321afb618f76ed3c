#include "threads/QThreadExtend.h"

#include <QtTest>

#include <atomic>
#include <thread>
#include <vector>

namespace {

// Runs until released or asked to close; counts its runs.
class TestWorker : public QThreadExtend
{
public:
    ~TestWorker() override { Stop(); }

    std::atomic<int> runs{0};
    std::atomic<bool> release{false};
    std::atomic<bool> sawClose{false};

protected:
    void DoRun() override
    {
        ++runs;
        while (!release) {
            if (closeable->IsCloseRequested()) {
                sawClose = true;
                return;
            }
            QThread::usleep(200);
        }
    }
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
};

QTEST_GUILESS_MAIN(TestThreadExtend)
#include "test_threadextend.moc"
