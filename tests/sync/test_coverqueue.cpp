// Cover requests without the network: file names, the queue and loading cached covers.
#include "Const.h"
#include "UserImageRefresher.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QPixmap>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QSize CoverSize(218, 218);

void WriteImage(const QString &path, const QSize &size)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    QVERIFY(image.save(path, "JPG"));
}

} // namespace

class TestCoverQueue : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void fileNamesAndAddress();
    void queueKeepsOrderWithoutDuplicatesWithinLimit();
    void keysWithoutCoverAreNeverQueued();
    void coverStates();
    void cachedCoversAreShrunkNotEnlarged_data();
    void cachedCoversAreShrunkNotEnlarged();
    void undecodableCacheFileIsDeletedAndFetchedAgain();

private:
    QTemporaryDir home;
};

void TestCoverQueue::initTestCase()
{
    QVERIFY(home.isValid());
    qputenv("HOME", home.path().toUtf8());
    QStandardPaths::setTestModeEnabled(true);
    Const::SetServiceRootsForTesting(QStringLiteral("http://127.0.0.1:9"), QString(), QString());
}

void TestCoverQueue::fileNamesAndAddress()
{
    QCOMPARE(UserImageRefresher::GetImageFileName({1234, 56}, true), QStringLiteral("1234_56_201.rfile"));
    QCOMPARE(UserImageRefresher::GetImageFileName({1234, 56}, false), QStringLiteral("1234_56_201.jpg"));
    QCOMPARE(UserImageRefresher::GetImageFileName({1234, 0}, true), QStringLiteral("1234_201.rfile"));
    // The service names covers after the book alone.
    QCOMPARE(UserImageRefresher::GetImageUrl({1234, 56}),
             QStringLiteral("http://127.0.0.1:9/local/images/1234_201.jpg"));

    UserImageRefresher refresher;
    QVERIFY(refresher.PrepareCacheFolder());
    QVERIFY(refresher.CacheFolder().startsWith(home.path()));
    QVERIFY(refresher.CacheFolder().endsWith(QStringLiteral(" LocalCache1")));
    QCOMPARE(refresher.GetImageFilePath({7, 8}), refresher.CacheFolder() + QStringLiteral("/7_8_201.rfile"));
}

void TestCoverQueue::queueKeepsOrderWithoutDuplicatesWithinLimit()
{
    UserImageRefresher refresher;
    QVERIFY(refresher.PrepareCacheFolder());
    for (int i = 1; i <= UserImageRefresher::MaxQueuedCovers; ++i)
        refresher.QueueImage({i, 100 + i}, false);
    QList<ItemComparePart> keys = refresher.QueuedKeys();
    QCOMPARE(keys.size(), 210);
    QCOMPARE(keys.first(), ItemComparePart(210, 310));
    QCOMPARE(keys.last(), ItemComparePart(1, 101));

    // Queued already: nothing moves.
    refresher.QueueImage({5, 105}, false);
    QCOMPARE(refresher.QueuedKeys(), keys);

    // The 211th key goes to the front and the earliest one is dropped.
    refresher.QueueImage({211, 311}, false);
    keys = refresher.QueuedKeys();
    QCOMPARE(keys.size(), 210);
    QCOMPARE(keys.first(), ItemComparePart(211, 311));
    QCOMPARE(keys.last(), ItemComparePart(2, 102));
    QVERIFY(!keys.contains(ItemComparePart(1, 101)));
    QVERIFY(refresher.IsImagePending({2, 102}));
    QVERIFY(!refresher.IsImagePending({1, 101}));
    QCOMPARE(refresher.GetWaitingCount(), 210);

    // Appending puts it at the back (after dropping the last one when full).
    refresher.QueueImage({999, 1}, true);
    QCOMPARE(refresher.QueuedKeys().last(), ItemComparePart(999, 1));
    QCOMPARE(refresher.QueuedKeys().size(), 210);
}

void TestCoverQueue::keysWithoutCoverAreNeverQueued()
{
    UserImageRefresher refresher;
    QVERIFY(refresher.PrepareCacheFolder());
    QPixmap pixmap;
    for (const ItemComparePart &key : {ItemComparePart(0, 0), ItemComparePart(1234, 0), ItemComparePart(0, 56)}) {
        refresher.QueueImage(key, false);
        const CoverImageState state = refresher.GetCoverPixmap(key, pixmap, true, CoverSize);
        QVERIFY(!state.HasImage());
        QVERIFY2(!state.loading, "a key without a cover must show no cover, not loading");
        QVERIFY(!refresher.IsImagePending(key));
    }
    QVERIFY(refresher.QueuedKeys().isEmpty());
    QVERIFY(refresher.ProcessQueue());
    QCOMPARE(refresher.ActiveDownloadCount(), 0);
}

void TestCoverQueue::coverStates()
{
    UserImageRefresher refresher;
    QVERIFY(refresher.PrepareCacheFolder());
    QPixmap pixmap;

    // Missing: loading, and queued at the front.
    refresher.QueueImage({1, 1}, false);
    CoverImageState state = refresher.GetCoverPixmap({2, 2}, pixmap, true, CoverSize);
    QVERIFY(!state.HasImage() && state.loading);
    QCOMPARE(refresher.QueuedKeys(), (QList<ItemComparePart>{{2, 2}, {1, 1}}));
    // Asking again while it waits changes nothing.
    state = refresher.GetCoverPixmap({2, 2}, pixmap, true, CoverSize);
    QVERIFY(!state.HasImage() && state.loading);
    QCOMPARE(refresher.QueuedKeys().size(), 2);

    // Cached: the details view (no loading) gets the state without an image.
    WriteImage(refresher.GetImageFilePath({3, 3}), QSize(120, 180));
    QVERIFY(refresher.IsImageCached({3, 3}));
    state = refresher.GetCoverPixmap({3, 3}, pixmap, false, CoverSize);
    QVERIFY(!state.HasImage() && !state.loading);
    state = refresher.GetCoverPixmap({3, 3}, pixmap, true, CoverSize);
    QCOMPARE(state.image, &pixmap);
    QVERIFY(!state.loading);
    QCOMPARE(pixmap.size(), QSize(120, 180));
    QCOMPARE(refresher.QueuedKeys().size(), 2);
}

void TestCoverQueue::cachedCoversAreShrunkNotEnlarged_data()
{
    QTest::addColumn<QSize>("stored");
    QTest::addColumn<QSize>("wanted");
    QTest::addColumn<QSize>("shown");
    QTest::newRow("tall") << QSize(400, 600) << CoverSize << QSize(145, 218);
    QTest::newRow("wide") << QSize(436, 218) << CoverSize << QSize(218, 109);
    QTest::newRow("only taller") << QSize(200, 300) << CoverSize << QSize(145, 218);
    QTest::newRow("exact") << QSize(218, 218) << CoverSize << QSize(218, 218);
    QTest::newRow("small") << QSize(100, 150) << CoverSize << QSize(100, 150);
    QTest::newRow("no size known yet") << QSize(400, 600) << QSize() << QSize(400, 600);
}

void TestCoverQueue::cachedCoversAreShrunkNotEnlarged()
{
    QFETCH(QSize, stored);
    QFETCH(QSize, wanted);
    QFETCH(QSize, shown);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("9_9_201.rfile"));
    WriteImage(path, stored);
    QCOMPARE(UserImageRefresher::LoadCoverImage(path, wanted).size(), shown);
}

void TestCoverQueue::undecodableCacheFileIsDeletedAndFetchedAgain()
{
    UserImageRefresher refresher;
    QVERIFY(refresher.PrepareCacheFolder());
    const ItemComparePart key(40, 41);
    const QString path = refresher.GetImageFilePath(key);
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("<html>502 Bad Gateway</html>");
    }
    QPixmap pixmap;
    CoverImageState state = refresher.GetCoverPixmap(key, pixmap, true, CoverSize);
    QVERIFY(!state.HasImage() && !state.loading);
    QVERIFY(!QFile::exists(path));
    QVERIFY(refresher.QueuedKeys().isEmpty());

    state = refresher.GetCoverPixmap(key, pixmap, true, CoverSize);
    QVERIFY(state.loading);
    QCOMPARE(refresher.QueuedKeys(), QList<ItemComparePart>{key});
}

QTEST_MAIN(TestCoverQueue)
#include "test_coverqueue.moc"
