// The shutdown worker sets the one-way closing flag, so it runs in its own executable.
#include "MainWindowCloseThread.h"
#include "threads/NativeHelper.h"

#include <QElapsedTimer>
#include <QMutex>
#include <QReadWriteLock>
#include <QStringList>
#include <QtTest>

#include <atomic>

namespace {

QMutex logMutex;
QStringList stopLog;

void Log(const QString &name)
{
    QMutexLocker locker(&logMutex);
    stopLog << name;
}

// A worker that spins until its own Stop reaches it (ignoring the closing flag, so that the
// order in which the shutdown stops the workers shows), then records its name. A stuck one
// neither the closing flag nor its stop request reaches: it ends when released.
class SpinWorker : public QThreadExtend
{
public:
    explicit SpinWorker(const QString &n, bool stuck = false) : name(n), stuck(stuck) {}
    ~SpinWorker() override { Stop(); }
    std::atomic<bool> release{false};

protected:
    void DoRun() override
    {
        while (stuck ? !release.load() : !QThread::currentThread()->isInterruptionRequested())
            QThread::msleep(5);
        if (!stuck)
            Log(name);
    }

private:
    const QString name;
    const bool stuck;
};

} // namespace

class TestCloseThread : public QObject
{
    Q_OBJECT
private slots:
    void stopsWorkersInOrderAfterConfigWriterAndEndsLoop()
    {
        SpinWorker refresher(QStringLiteral("refresher")), images(QStringLiteral("images")),
            version(QStringLiteral("version")), loader(QStringLiteral("loader")), stuck(QStringLiteral("stuck"), true);
        for (SpinWorker *worker : {&refresher, &images, &loader, &stuck})
            worker->StartIfNotRunning();
        // "version" is never started: stopping it must return at once.

        // A folders-file writer holds the config lock for a while.
        QThread *writer = QThread::create([&] {
            NativeHelper::_configLocker->lockForWrite();
            QThread::msleep(300);
            Log(QStringLiteral("writer"));
            NativeHelper::_configLocker->unlock();
        });
        writer->start();
        while (NativeHelper::_configLocker->tryLockForRead())
            NativeHelper::_configLocker->unlock(); // wait until the writer holds it

        MainWindowCloseThread closeThread;
        closeThread.SetThreadsToStop({&refresher, &images, &version, nullptr, &loader, &stuck});
        closeThread.StartIfNotRunning();

        QElapsedTimer timer;
        timer.start();
        const int code = QCoreApplication::exec();
        // A worker that never stops holds the close no longer than the limit.
        QVERIFY(stuck.IsRunning());
        stuck.release = true;
        QCOMPARE(code, 0);
        QVERIFY(timer.elapsed() < MainWindowCloseThread::StopLimitMs + 1000);
        QVERIFY(NativeHelper::IsClosing());
        QMutexLocker locker(&logMutex);
        QCOMPARE(stopLog.join(' '), QStringLiteral("writer refresher images loader"));
        locker.unlock();
        QVERIFY(!refresher.IsRunning() && !images.IsRunning() && !loader.IsRunning());

        // Runs once: a second start does nothing, and nothing else starts any more.
        for (int i = 0; i < 200 && closeThread.IsRunning(); ++i)
            QThread::msleep(10);
        closeThread.StartIfNotRunning();
        QVERIFY(!closeThread.IsRunning());
        refresher.StartIfNotRunning();
        QVERIFY(!refresher.IsRunning());

        writer->wait();
        delete writer;
    }
};

QTEST_GUILESS_MAIN(TestCloseThread)
#include "test_closethread.moc"
