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

struct PassResult
{
    int succeeded = 0;
    int failed = 0;
    qint64 elapsedMs = 0;
    int requests = 0;
    int mostActive = 0;
    qint64 longestWaitNs = 0;
    qint64 p99WaitNs = 0;
    int calls = 0;
};

// One pass of all covers through a fresh cache folder, the service answering each cover after
// a delay from baseDelayMs to baseDelayMs + spreadMs. Meanwhile the GUI thread asks for one
// page of 30 covers every 10 ms, as the views do, timing every call that takes the queue lock.
PassResult RunPass(QGuiApplication &app, const QList<QByteArray> &covers, int baseDelayMs,
                   int spreadMs, int firstUid)
{
    PassResult result;
    TestHttpServer server;
    if (!server.Start())
        return result;
    Const::SetServiceRootsForTesting(server.BaseUrl(), QString(), QString());

    QList<ItemComparePart> keys;
    for (int i = 0; i < covers.size(); ++i) {
        const qint64 uid = firstUid + i;
        const int delay = baseDelayMs + (spreadMs > 0 ? (i * 37) % (spreadMs + 1) : 0);
        server.SetResponse("/local/images/" + QByteArray::number(uid) + "_201.jpg",
                           TestHttpResponse::Delayed(delay, covers.at(i)));
        keys.append({uid, 9});
    }

    UserImageRefresher refresher;
    if (!refresher.PrepareCacheFolder())
        return result;
    QObject receiver;
    QObject::connect(&refresher, &UserImageRefresher::completed, &receiver,
                     [&](bool isSucc) { (isSucc ? result.succeeded : result.failed)++; },
                     Qt::QueuedConnection);
    for (const ItemComparePart &key : qAsConst(keys))
        refresher.QueueImage(key, false);

    QElapsedTimer total;
    total.start();
    refresher.StartIfNotRunning();

    QVector<qint64> waits;
    QPixmap pixmap;
    QTimer views;
    int page = 0;
    auto timed = [&waits, &result](auto call) {
        QElapsedTimer wait;
        wait.start();
        const auto answer = call();
        const qint64 ns = wait.nsecsElapsed();
        result.longestWaitNs = qMax(result.longestWaitNs, ns);
        waits.append(ns);
        return answer;
    };
    QObject::connect(&views, &QTimer::timeout, [&] {
        for (int i = 0; i < 30; ++i) {
            const ItemComparePart &key = keys.at((page * 30 + i) % keys.size());
            const bool pending = timed([&] { return refresher.IsImagePending(key); });
            if (!pending && refresher.IsImageCached(key))
                refresher.GetCoverPixmap(key, pixmap, true, QSize(218, 218));
        }
        ++page;
        result.mostActive = qMax(result.mostActive, timed([&] { return refresher.ActiveDownloadCount(); }));
        timed([&] { return refresher.GetWaitingCount(); });
        if (result.succeeded + result.failed >= keys.size() || total.elapsed() > 120000)
            app.quit();
    });
    views.start(10);
    app.exec();
    result.elapsedMs = total.elapsed();
    refresher.Stop();

    result.requests = server.RequestCount();
    std::sort(waits.begin(), waits.end());
    result.calls = waits.size();
    result.p99WaitNs = waits.isEmpty() ? 0 : waits.at(waits.size() * 99 / 100);
    return result;
}

bool Report(const char *name, const PassResult &r, int count)
{
    std::printf("%s: %d covers in %lld ms (%d succeeded, %d failed, %d requests), "
                "most transfers at once %d (limit 39)\n",
                name, count, static_cast<long long>(r.elapsedMs), r.succeeded, r.failed,
                r.requests, r.mostActive);
    std::printf("%s: GUI thread on the queue lock: longest %.3f ms, 99th percentile %.3f ms "
                "over %d calls (target < 50 ms)\n",
                name, r.longestWaitNs / 1e6, r.p99WaitNs / 1e6, r.calls);
    return r.succeeded == count && r.mostActive <= 39 && r.longestWaitNs < 50 * 1000000LL;
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

    qint64 smallest = 1 << 30, largest = 0;
    QList<QByteArray> covers;
    for (int i = 0; i < CoverCount; ++i) {
        covers.append(MakeCover(i));
        smallest = qMin<qint64>(smallest, covers.last().size());
        largest = qMax<qint64>(largest, covers.last().size());
    }
    std::printf("%d JPEG covers of %lld-%lld bytes\n", CoverCount,
                static_cast<long long>(smallest), static_cast<long long>(largest));

    // A quick service (20-100 ms per cover), then a slow one (300-2300 ms) whose transfers
    // outlast a pass, so that passes start new downloads while others still run.
    const bool quickOk = Report("quick service", RunPass(app, covers, 20, 80, 5000), CoverCount);
    const bool slowOk = Report("slow service", RunPass(app, covers, 300, 2000, 6000), CoverCount);
    return quickOk && slowOk ? 0 : 2;
}
