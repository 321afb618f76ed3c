// Image cache housekeeping: the weekly marker, the size check and the serialised clearing.
#include "CacheFolderClearing.h"
#include "Const.h"
#include "Helper.h"
#include "ImageCache.h"
#include "TestSandbox.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <functional>
#include <memory>

#include <fcntl.h>
#include <unistd.h>

namespace {

// Plain system calls: forty thousand files must not take long.
void Touch(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_CREAT | O_WRONLY, 0644);
    QVERIFY(fd >= 0);
    ::close(fd);
}

} // namespace

class TestImageCache : public QObject
{
    Q_OBJECT
    // Forty thousand files: on a memory file system when there is one, which is much faster.
    QTemporaryDir home{QFileInfo(QStringLiteral("/dev/shm")).isWritable()
                           ? QStringLiteral("/dev/shm/tessaly-test-XXXXXX")
                           : QDir::tempPath() + QStringLiteral("/tessaly-test-XXXXXX")};
    QString markerPath;

private slots:
    void initTestCase()
    {
        QVERIFY(TestSandbox::UsePrivateHome(home));
        const QString base = Helper::GetLocalFolder(Helper::FolderBase);
        QVERIFY(base.startsWith(home.path()));
        markerPath = Helper::CombinePath(base, ImageCache::MarkerFileName);
        QCOMPARE(ImageCache::MarkerFileName, QStringLiteral("active-check-cache.file"));
    }

    void clearingRemovesOnlyCacheFiles()
    {
        const QString db = Helper::GetLocalFolder(Helper::FolderDatabase);
        const QString images = Helper::GetLocalFolder(Helper::FolderImageCache);
        QTemporaryDir outside;
        const QString target = outside.filePath(QStringLiteral("target.rfile"));
        Touch(target);
        Touch(db + QStringLiteral("/single_us_7_3011_0.rfile"));
        Touch(db + QStringLiteral("/single_us_7_3011_0.rfile.prefile"));
        for (const char *sidecar : {"-journal", "-wal", "-shm"})
            Touch(db + QStringLiteral("/single_us_7_3011_0.rfile") + QLatin1String(sidecar));
        Touch(db + QStringLiteral("/keep.db"));
        QVERIFY(QDir(db).mkpath(QStringLiteral("sub.rfile")));
        QVERIFY(QFile::link(target, db + QStringLiteral("/link.rfile")));
        Touch(images + QStringLiteral("/1_2_201.rfile"));

        ClearDatabaseCacheFolder(&Const::FileAccessMutex);
        QCOMPARE(QDir(db).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name),
                 (QStringList{QStringLiteral("keep.db"), QStringLiteral("link.rfile"), QStringLiteral("sub.rfile")}));
        QVERIFY(QFile::exists(target));
        QVERIFY(QFile::exists(images + QStringLiteral("/1_2_201.rfile")));

        ClearImageCacheFolder(&Const::FileAccessMutex);
        QVERIFY(!QFile::exists(images + QStringLiteral("/1_2_201.rfile")));
    }

    void clearingIsSerialisedEvenWithoutMutex()
    {
        const QString cover = Helper::GetLocalFolder(Helper::FolderImageCache) + QStringLiteral("/5_6_201.rfile");
        // The clearing and the weekly check (far below its threshold) both wait for the file lock although given none.
        const QList<QPair<std::function<void()>, bool>> jobs{{[] { ClearImageCacheFolder(nullptr); }, true},
                                                             {[] { ImageCache::ClearIfLarge(nullptr); }, false}};
        for (const auto &job : jobs) {
            Touch(cover);
            Const::FileAccessMutex.lock();
            std::unique_ptr<QThread> worker(QThread::create(job.first));
            worker->start();
            QVERIFY(!worker->wait(200));
            QVERIFY(QFile::exists(cover));
            Const::FileAccessMutex.unlock();
            QVERIFY(worker->wait(5000));
            QCOMPARE(QFile::exists(cover), !job.second);
        }
    }
};

QTEST_GUILESS_MAIN(TestImageCache)
#include "test_imagecache.moc"
