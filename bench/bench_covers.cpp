// A pass of 210 covers from a local service while the GUI thread keeps asking for covers:
// prints the total time, the most transfers seen at once and the longest GUI-thread wait
// on the cover queue.
#include "Const.h"
#include "TestHttpServer.h"
#include "UserImageRefresher.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace {

constexpr int CoverCount = 210;

// A cover-like JPEG of 20-60 KB: gradient, blocks of colour and some noise.
QByteArray MakeCover(int seed)
{
    QRandomGenerator random(static_cast<quint32>(seed) + 1);
    QImage image(300, 450, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient gradient(0, 0, 300, 450);
    gradient.setColorAt(0, QColor::fromHsv(random.bounded(360), 180, 200));
    gradient.setColorAt(1, QColor::fromHsv(random.bounded(360), 200, 90));
    painter.fillRect(image.rect(), gradient);
    for (int i = 0; i < 12; ++i) {
        painter.fillRect(random.bounded(280), random.bounded(430), random.bounded(20, 200),
                         random.bounded(10, 120), QColor::fromHsv(random.bounded(360), 150, 220));
    }
    painter.end();
    const int noise = 24 + seed % 40;
    for (int y = 0; y < image.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const int n = random.bounded(noise) - noise / 2;
            const QRgb p = line[x];
            line[x] = qRgb(qBound(0, qRed(p) + n, 255), qBound(0, qGreen(p) + n, 255),
                           qBound(0, qBlue(p) + n, 255));
        }
    }
    QByteArray bytes;
    for (int quality = 80; quality >= 20; quality -= 10) {
        bytes.clear();
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "JPG", quality);
        if (bytes.size() <= 60 * 1024)
            break;
    }
    return bytes;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir home;
    qputenv("HOME", home.path().toUtf8());
    qputenv("XDG_RUNTIME_DIR", home.path().toUtf8());
    QStandardPaths::setTestModeEnabled(true);
    QGuiApplication app(argc, argv);

    TestHttpServer server;
    if (!server.Start()) {
        std::fprintf(stderr, "cannot start the local server\n");
        return 1;
    }
    Const::SetServiceRootsForTesting(server.BaseUrl(), QString(), QString());

    qint64 smallest = 1 << 30, largest = 0;
    QList<ItemComparePart> keys;
    for (int i = 0; i < CoverCount; ++i) {
        const qint64 uid = 5000 + i;
        const QByteArray cover = MakeCover(i);
        smallest = qMin<qint64>(smallest, cover.size());
        largest = qMax<qint64>(largest, cover.size());
        // A little latency, as from a real service, so that transfers overlap.
        TestHttpResponse response = TestHttpResponse::Delayed(20 + i % 5 * 20, cover);
        server.SetResponse("/local/images/" + QByteArray::number(uid) + "_201.jpg", response);
        keys.append({uid, 9});
    }

    UserImageRefresher refresher;
    if (!refresher.PrepareCacheFolder())
        return 1;
    int succeeded = 0, failed = 0;
    QObject::connect(&refresher, &UserImageRefresher::completed, &app,
                     [&](bool isSucc) { (isSucc ? succeeded : failed)++; }, Qt::QueuedConnection);

    for (const ItemComparePart &key : qAsConst(keys))
        refresher.QueueImage(key, false);

    QElapsedTimer total;
    total.start();
    refresher.StartIfNotRunning();

    // The GUI thread: every 10 ms one page of 30 covers is asked for, as the views do.
    qint64 longestWaitNs = 0;
    QVector<qint64> waits;
    int mostActive = 0;
    QPixmap pixmap;
    QTimer views;
    int page = 0;
    QObject::connect(&views, &QTimer::timeout, [&] {
        for (int i = 0; i < 30; ++i) {
            const ItemComparePart &key = keys.at((page * 30 + i) % keys.size());
            QElapsedTimer wait;
            wait.start();
            const bool pending = refresher.IsImagePending(key);
            qint64 ns = wait.nsecsElapsed();
            longestWaitNs = qMax(longestWaitNs, ns);
            waits.append(ns);
            if (!pending && refresher.IsImageCached(key))
                refresher.GetCoverPixmap(key, pixmap, true, QSize(218, 218));
        }
        ++page;
        QElapsedTimer wait;
        wait.start();
        mostActive = qMax(mostActive, refresher.ActiveDownloadCount());
        waits.append(wait.nsecsElapsed());
        longestWaitNs = qMax(longestWaitNs, waits.last());
        if (succeeded + failed >= CoverCount || total.elapsed() > 120000)
            app.quit();
    });
    views.start(10);
    app.exec();
    const qint64 elapsedMs = total.elapsed();
    refresher.Stop();

    std::sort(waits.begin(), waits.end());
    const qint64 p99 = waits.isEmpty() ? 0 : waits.at(waits.size() * 99 / 100);
    std::printf("covers: %d succeeded, %d failed, JPEG sizes %lld-%lld bytes\n", succeeded, failed,
                static_cast<long long>(smallest), static_cast<long long>(largest));
    std::printf("pass of %d covers: %lld ms, requests %d, most transfers at once %d (limit 39)\n",
                CoverCount, static_cast<long long>(elapsedMs), server.RequestCount(), mostActive);
    std::printf("GUI thread on the queue lock: longest %.3f ms, 99th percentile %.3f ms over %d calls"
                " (target < 50 ms)\n",
                longestWaitNs / 1e6, p99 / 1e6, waits.size());
    return (succeeded == CoverCount && mostActive <= 39 && longestWaitNs < 50 * 1000000LL) ? 0 : 2;
}
