// The shutdown worker sets the one-way closing flag, so it runs in its own executable.
#include "FileDownloader.h"
#include "MainWindowCloseThread.h"
#include "folders/DisplayDataSaver.h"
#include "threads/NativeHelper.h"
#include "TestHttpServer.h"
#include "TestSandbox.h"

#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>

namespace {

std::atomic<int> stops{0};

// A worker that spins until its own Stop reaches it (ignoring the closing flag, so that the order
// of the stops shows), then notes its place in that order. A stuck one ends only when released.
class SpinWorker : public QThreadExtend
{
public:
    explicit SpinWorker(bool stuck = false) : stuck(stuck) {}
    ~SpinWorker() override { Stop(); }
    std::atomic<bool> release{false};
    std::atomic<int> stoppedAs{0};

protected:
    void DoRun() override
    {
        while (stuck ? !release.load() : !QThread::currentThread()->isInterruptionRequested())
            QThread::msleep(5);
        if (!stuck)
            stoppedAs = ++stops;
    }

private:
    const bool stuck;
};

} // namespace

class TestCloseThread : public QObject
{
    Q_OBJECT
private slots:
    void stopsWorkersInOrderAfterConfigWriterAndEndsLoop()
    {
        SpinWorker refresher, images, version, loader, stuck(true);
        for (SpinWorker *worker : {&refresher, &images, &loader, &stuck})
            worker->StartIfNotRunning();
        // "version" is never started: stopping it must return at once.

        // A folders-file writer holds the config lock for a while.
        std::atomic<int> writerDone{0};
        QThread *writer = QThread::create([&] {
            NativeHelper::_configLocker->lockForWrite();
            QThread::msleep(300);
            writerDone = ++stops;
            NativeHelper::_configLocker->unlock();
        });
        writer->start();
        while (NativeHelper::_configLocker->tryLockForRead())
            NativeHelper::_configLocker->unlock(); // wait until the writer holds it

        // Two saves queue up behind that write: both were made before the close and are written.
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("user-folders.file"));
        DisplayDataSaver store(path);
        bool added = false;
        QVERIFY(store.LoadFolders(added));
        quint64 lastSave = 0;
        for (const QString &caption : {QStringLiteral("First"), QStringLiteral("Last")}) {
            QWriteLockerExt2 token(&store.lock);
            QVERIFY(store.AddFolder(DisplayFolder::CreateBuiltinFolder(FilterFolder, caption), token));
            lastSave = store.QueueSave(token);
            QVERIFY(lastSave != 0);
        }

        TestHttpServer server;
        QVERIFY(server.Start());
        server.SetDefault(TestHttpResponse::Ok("body"));
        FileDownloader before(ItemComparePart(), server.Url("/a"), nullptr, 5000, QString());
        QCOMPARE(before.RunAndWait(), QStringLiteral("body"));

        MainWindowCloseThread closeThread;
        // Released also when a check fails: the close thread would otherwise end the process with
        // exit code 0 and hide the failure.
        const auto releaseStuck = qScopeGuard([&stuck] { stuck.release = true; });
        closeThread.SetThreadsToStop({&store.foldersWriter, &refresher, &images, &version, nullptr, &loader, &stuck});
        closeThread.StartIfNotRunning();

        QElapsedTimer timer;
        timer.start();
        const int code = QCoreApplication::exec();
        // A worker that never stops holds the close for three seconds, and no longer; the close
        // thread then gives it a last grace period.
        const qint64 held = timer.elapsed();
        QVERIFY2(held >= 2900 && held < 4000, qPrintable(QString::number(held)));
        QTest::qWait(200);
        QVERIFY(stuck.IsRunning() && closeThread.IsRunning());
        stuck.release = true;
        QCOMPARE(code, 0);
        QVERIFY(NativeHelper::IsClosing());
        QCOMPARE((QList<int>{writerDone, refresher.stoppedAs, images.stoppedAs, loader.stoppedAs, stops}),
                 (QList<int>{1, 2, 3, 4, 4}));
        QVERIFY(!refresher.IsRunning() && !images.IsRunning() && !loader.IsRunning());
        QVERIFY(store.WaitForSave(lastSave, 0));
        const QByteArray closed = TestSandbox::ReadBytes(path);
        DisplayDataSaver reloaded(path);
        QVERIFY(reloaded.LoadFolders(added));
        QCOMPARE(reloaded.folders.last()->caption, QStringLiteral("Last"));
        // Nothing new is written once the close has begun.
        QVERIFY(store.RemoveFolder(reloaded.folders.last()->uid));
        {
            QWriteLockerExt2 token(&store.lock);
            QCOMPARE(store.QueueSave(token), quint64(0));
        }
        QCOMPARE(TestSandbox::ReadBytes(path), closed);
        // Nor is a download: the answer that comes in is dropped.
        const QString target = dir.filePath(QStringLiteral("t.bin"));
        FileDownloader after(ItemComparePart(), server.Url("/a"), nullptr, 5000, target);
        QVERIFY(after.RunAndWait().isEmpty() && after.finished && !after.succeeded && after.data.isEmpty());
        QVERIFY(!QFile::exists(target));

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
