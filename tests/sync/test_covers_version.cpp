// The cover and version workers against a local service, and the files of the data folders. Covers: the queue,
// states for the views, decoding, downloads (start limits, stopping). Versions: parsing and comparison, safe
// display, reporting once. Files: the slot pointer and the slot search, clearing the caches.
#include "CacheFolderClearing.h"
#include "CatalogueSlots.h"
#include "Const.h"
#include "CoverFormat.h"
#include "Helper.h"
#include "ImageCache.h"
#include "TestHttpServer.h"
#include "TestSandbox.h"
#include "UserImageRefresher.h"
#include "UserVersionLoader.h"
#include "VersionNumberHelper.h"

#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QImageWriter>
#include <QPixmap>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <zlib.h>

#include <functional>
#include <limits>
#include <memory>

using TestSandbox::ReadBytes;
using TestSandbox::WriteBytes;

namespace {

const QSize CoverSize(218, 218);
const QByteArray VersionPath("/service/version.php");
// Limit for stops that would otherwise wait for the downloads' time-out of minutes; no loaded machine hits it.
const int NoHangMs = 10000;
using Keys = QList<ItemComparePart>;

// Only the headers of a 24-bit BMP of 16000x16000 pixels: no pixel follows.
const QByteArray HugeBmpHeader = QByteArray::fromHex(
    "424d36c0c62d000000003600000028000000803e0000803e0000010018000000000000000000130b0000130b00000000000000000000");

QByteArray Picture(const QSize &size, const QByteArray &format = "jpeg", bool progressive = false, int compression = -1)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(QColor(20, 90, 160));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setProgressiveScanWrite(progressive);
    writer.setCompression(compression);
    writer.write(image);
    return bytes;
}

// A progressive JPEG whose last scan is repeated: every copy makes the decoder go over the whole picture.
QByteArray RepeatedScans(const QByteArray &jpeg, int copies)
{
    const int lastScan = jpeg.lastIndexOf("\xFF\xDA");
    const int end = jpeg.size() - 2; // the end-of-image marker
    return jpeg.left(end) + jpeg.mid(lastScan, end - lastScan).repeated(copies) + jpeg.mid(end);
}

// An icon file whose directory claims a 16x16 picture and holds the given PNG.
QByteArray IconHolding(const QByteArray &png)
{
    QByteArray icon = QByteArray::fromHex("000001000100" "10100000" "01002000");
    for (const quint32 value : {quint32(png.size()), quint32(22)})
        for (int i = 0; i < 4; ++i)
            icon.append(char((value >> (8 * i)) & 0xff));
    return icon + png;
}

void AppendBigEndian(QByteArray &bytes, quint32 value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        bytes.append(char((value >> shift) & 0xff));
}

QByteArray PngChunk(const QByteArray &type, const QByteArray &data)
{
    QByteArray chunk;
    AppendBigEndian(chunk, quint32(data.size()));
    const QByteArray typed = type + data;
    AppendBigEndian(chunk, quint32(crc32(0, reinterpret_cast<const Bytef *>(typed.constData()), uInt(typed.size()))));
    return chunk.left(4) + typed + chunk.mid(4);
}

// An 8-bit RGBA PNG of size whose image data is the given zlib stream.
QByteArray PngWithData(const QSize &size, const QByteArray &zlibData)
{
    QByteArray header;
    AppendBigEndian(header, quint32(size.width()));
    AppendBigEndian(header, quint32(size.height()));
    header += QByteArray("\x08\x06\x00\x00\x00", 5);
    return "\x89PNG\r\n\x1a\n" + PngChunk("IHDR", header) + PngChunk("IDAT", zlibData) + PngChunk("IEND", "");
}

// A 100x100 PNG whose one zlib stream inflates to mebibytes of zeros, made without inflating them:
// the same self-contained piece of deflate data, repeated.
QByteArray PngInflatingTo(int mebibytes)
{
    z_stream stream{};
    deflateInit(&stream, 9);
    QByteArray zeros(1 << 20, '\0'), piece(1 << 20, '\0');
    stream.next_in = reinterpret_cast<Bytef *>(zeros.data());
    stream.avail_in = uInt(zeros.size());
    stream.next_out = reinterpret_cast<Bytef *>(piece.data());
    stream.avail_out = uInt(piece.size());
    deflate(&stream, Z_FULL_FLUSH);
    piece.resize(piece.size() - int(stream.avail_out));
    deflateEnd(&stream);
    // The zlib header, the pieces, a final empty block and a (wrong) checksum.
    return PngWithData(QSize(100, 100),
                       piece.left(2) + piece.mid(2).repeated(mebibytes) + QByteArray("\x03\x00\0\0\0\0", 6));
}

// A GIF of size with a 256-colour table whose first picture is the given codes of `bits` each
// (at most 12), packed as a decoder reads them.
QByteArray GifWithCodes(const QSize &size, const QList<QPair<int, int>> &codes)
{
    QByteArray packed;
    quint32 accumulator = 0;
    int bits = 0;
    for (const auto &[code, width] : codes) {
        accumulator |= quint32(code) << bits;
        for (bits += width; bits >= 8; bits -= 8, accumulator >>= 8)
            packed.append(char(accumulator & 0xff));
    }
    if (bits > 0)
        packed.append(char(accumulator & 0xff));
    const auto little = [](int value) { return QByteArray(1, char(value & 0xff)) + char(value >> 8); };
    QByteArray gif = "GIF89a" + little(size.width()) + little(size.height()) + QByteArray("\xF7\0\0", 3)
                     + QByteArray(3 * 256, '\x40') + ',' + QByteArray(4, '\0') + little(size.width())
                     + little(size.height()) + '\0' + '\x08';
    for (int at = 0; at < packed.size(); at += 255)
        gif += char(qMin(255, packed.size() - at)) + packed.mid(at, 255);
    return gif + '\0' + ';';
}

// A 100x100 GIF whose codes grow to stand for 4,000 pixels each, then repeat the longest.
QByteArray GifInflatingTo(int repeats)
{
    QList<QPair<int, int>> codes{{256, 9}, {0, 9}};
    int bits = 9;
    for (int next = 258; next < 4096;) {
        codes.append({next, bits});
        if (++next == (1 << bits) && bits < 12)
            ++bits;
    }
    for (int i = 0; i < repeats; ++i)
        codes.append({4095, 12});
    codes.append({257, 12});
    return GifWithCodes(QSize(100, 100), codes);
}

// A BMP of size stored bottom-up, with the height field set to height.
QByteArray BmpWithHeight(const QSize &size, qint32 height)
{
    QByteArray bmp = Picture(size, "bmp");
    for (int i = 0; i < 4; ++i)
        bmp[22 + i] = char((quint32(height) >> (8 * i)) & 0xff);
    return bmp;
}

// Asks for a cover as a view does: again after every decoder report, since a report for an earlier
// cover may still be on its way.
CoverImageState AskUntilDecoded(UserImageRefresher &refresher, const ItemComparePart &key, QPixmap &pixmap)
{
    QSignalSpy decoded(&refresher, &UserImageRefresher::decoded);
    QElapsedTimer clock;
    clock.start();
    CoverImageState state = refresher.GetCoverPixmap(key, pixmap, true, CoverSize);
    while (state.loading && refresher.IsImageCached(key) && !refresher.IsImagePending(key) && clock.elapsed() < 5000) {
        decoded.wait(100);
        state = refresher.GetCoverPixmap(key, pixmap, true, CoverSize);
    }
    return state;
}

} // namespace

class TestCoversVersion : public QObject
{
    Q_OBJECT
    QTemporaryDir home;
    TestHttpServer server;
    QString folder; // the catalogue folder, emptied before every test
    QString images; // the image cache folder, emptied too

private slots:
    void initTestCase()
    {
        QVERIFY(TestSandbox::UseLocalService(home, server));
        folder = Helper::GetLocalFolder(Helper::FolderDatabase);
        images = Helper::GetLocalFolder(Helper::FolderImageCache);
        QVERIFY(folder.startsWith(home.path()) && images.startsWith(home.path()));
    }

    void init()
    {
        server.ClearScript();
        server.ClearRequests();
        for (const QString &path : {folder, images})
            QVERIFY(QDir(path).removeRecursively() && QDir().mkpath(path));
    }

    void coverStates()
    {
        UserImageRefresher refresher;
        QVERIFY(refresher.PrepareCacheFolder());
        QPixmap pixmap;

        // Missing: loading, queued at the front; asking again changes nothing.
        refresher.QueueImage({1, 1}, false);
        QVERIFY(refresher.GetCoverPixmap({2, 2}, pixmap, true, CoverSize).loading);
        QVERIFY(refresher.GetCoverPixmap({2, 2}, pixmap, true, CoverSize).loading);
        QCOMPARE(refresher.QueuedKeys(), (Keys{{2, 2}, {1, 1}}));
        // At most 210 wait: the oldest goes.
        for (int i = 3; i <= 211; ++i)
            refresher.QueueImage({i, 1}, false);
        QCOMPARE(refresher.QueuedKeys().size(), 210);
        QCOMPARE(refresher.QueuedKeys().last(), ItemComparePart(2, 2));

        // Cached: no image without loading (details view), the caller's pixmap with it.
        QVERIFY(WriteBytes(refresher.GetImageFilePath({3, 3}), Picture(QSize(120, 180))));
        CoverImageState state = refresher.GetCoverPixmap({3, 3}, pixmap, false, CoverSize);
        QVERIFY(!state.HasImage() && !state.loading);
        // Never decoded on the caller's (GUI) thread: loading until the decoder reports it.
        QVERIFY(refresher.GetCoverPixmap({3, 3}, pixmap, true, CoverSize).loading);
        state = AskUntilDecoded(refresher, {3, 3}, pixmap);
        QCOMPARE(state.image, &pixmap);
        QVERIFY(!state.loading);
        QCOMPARE(pixmap.size(), QSize(120, 180));

        // Undecodable (an error page stored as a cover): deleted, shown as none, fetched on the next request.
        QVERIFY(WriteBytes(refresher.GetImageFilePath({40, 41}), "<html>502 Bad Gateway</html>"));
        state = AskUntilDecoded(refresher, {40, 41}, pixmap);
        QVERIFY(!state.HasImage() && !state.loading);
        QVERIFY(!refresher.IsImageCached({40, 41}));
        QVERIFY(refresher.GetCoverPixmap({40, 41}, pixmap, true, CoverSize).loading);
        QCOMPARE(refresher.QueuedKeys().first(), ItemComparePart(40, 41));
    }

    void cachedCoversAreShrunkNotEnlarged_data()
    {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<QSize>("wanted");
        QTest::addColumn<QSize>("shown"); // 0x0: refused, shown as no cover
        QTest::newRow("tall") << Picture(QSize(400, 600)) << CoverSize << QSize(145, 218);
        QTest::newRow("wide") << Picture(QSize(436, 218)) << CoverSize << QSize(218, 109);
        QTest::newRow("exact") << Picture(QSize(218, 218)) << CoverSize << QSize(218, 218);
        QTest::newRow("small") << Picture(QSize(100, 150)) << CoverSize << QSize(100, 150);
        QTest::newRow("no size known yet") << Picture(QSize(400, 600)) << QSize() << QSize(400, 600);
        QTest::newRow("10000 wide") << Picture(QSize(10000, 2)) << CoverSize << QSize(218, 1);
        QTest::newRow("wider than any cover") << Picture(QSize(10001, 2)) << CoverSize << QSize(0, 0);
        QTest::newRow("16 Mi pixels") << Picture(QSize(4096, 4096)) << CoverSize << QSize(218, 218);
        QTest::newRow("one row more") << Picture(QSize(4096, 4097)) << CoverSize << QSize(0, 0);
        // Bytes after the end of the picture are ignored by the decoder; the file's size is not.
        const QByteArray small = Picture(QSize(100, 150));
        QTest::newRow("16 MiB file") << small + QByteArray((16 << 20) - small.size(), '\0') << CoverSize << QSize(100, 150);
        QTest::newRow("a byte more") << small + QByteArray((16 << 20) + 1 - small.size(), '\0') << CoverSize << QSize(0, 0);
        QTest::newRow("header claims 16000x16000") << HugeBmpHeader << CoverSize << QSize(0, 0);
        QTest::newRow("not an image") << QByteArray("<html>502</html>") << CoverSize << QSize(0, 0);
        // Decided by the bytes: the picture formats covers come in, nothing else.
        QTest::newRow("png") << Picture(QSize(400, 600), "png") << CoverSize << QSize(145, 218);
        for (const char *version : {"87a", "89a"})
            QTest::newRow(version) << "GIF" + QByteArray(version) + QByteArray::fromHex(
                "01000100800000000000ffffff2c00000000010001000002024401003b") << CoverSize << QSize(1, 1);
        QTest::newRow("bmp") << Picture(QSize(100, 150), "bmp") << CoverSize << QSize(100, 150);
        QTest::newRow("icon holding a wide png") << IconHolding(Picture(QSize(CoverDecoder::MaxSide + 1, 1), "png"))
                                                 << CoverSize << QSize(0, 0);
        QTest::newRow("icon holding a small png") << IconHolding(Picture(QSize(64, 64), "png")) << CoverSize << QSize(0, 0);
        QTest::newRow("portable pixmap") << Picture(QSize(100, 150), "ppm") << CoverSize << QSize(0, 0);
        QTest::newRow("pixmap as text") << Picture(QSize(10, 15), "xpm") << CoverSize << QSize(0, 0);
        QTest::newRow("png behind a jpeg signature") << QByteArray("\xFF\xD8\xFF", 3) + Picture(QSize(100, 150), "png")
                                                     << CoverSize << QSize(0, 0);
        // What compressed data decodes to is weighed against the picture before decoding.
        QTest::newRow("png, interlaced") << QByteArray::fromHex(
            "89504e470d0a1a0a0000000d494844520000002500000017080200000174492164000000464944415448c76314895ac08004981850013a"
            "9f9142f5049493268dcf707c5ae92d472010c80f80519de4862d99168e6a1bd54618909fdfe9eacc51fb46ed1bb56fd43e82000095ab07b4"
            "969e34730000000049454e44ae426082") << CoverSize << QSize(37, 23);
        QTest::newRow("png, stored") << Picture(QSize(300, 300), "png", false, 0) << CoverSize << QSize(218, 218);
        QTest::newRow("png inflating to a GiB") << PngInflatingTo(1024) << CoverSize << QSize(0, 0);
        QTest::newRow("gif of 100x100 decoding to 768 million pixels") << GifInflatingTo(200000) << CoverSize << QSize(0, 0);
        // Rows stored top-down give a negative height.
        QTest::newRow("bmp, top-down") << BmpWithHeight(QSize(64, 96), -96) << CoverSize << QSize(64, 96);
        QTest::newRow("bmp, height -100000000") << BmpWithHeight(QSize(64, 96), -100000000) << CoverSize << QSize(0, 0);
        QTest::newRow("bmp, lowest height") << BmpWithHeight(QSize(64, 96), std::numeric_limits<qint32>::min())
                                           << CoverSize << QSize(0, 0);
        QTest::newRow("png header claims 20000x20000")
            << QByteArray::fromHex("89504e470d0a1a0a0000000d4948445200004e2000004e200806000000e3704639"
                                   "000000004944415435af061e") << CoverSize << QSize(0, 0);
        // A JPEG's scans are counted before decoding.
        const QByteArray progressive = Picture(QSize(1024, 1024), "jpeg", true);
        QTest::newRow("progressive jpeg") << progressive << CoverSize << QSize(218, 218);
        const int scans = CoverFormat::CountJpegScans(progressive, 64);
        QTest::newRow("64 scans") << RepeatedScans(progressive, 64 - scans) << CoverSize << QSize(218, 218);
        QTest::newRow("65 scans") << RepeatedScans(progressive, 65 - scans) << CoverSize << QSize(0, 0);
        QTest::newRow("thousands of scans") << RepeatedScans(progressive, 5000) << CoverSize << QSize(0, 0);
    }

    void cachedCoversAreShrunkNotEnlarged()
    {
        QFETCH(QByteArray, stored);
        QFETCH(QSize, wanted);
        QFETCH(QSize, shown);
        const QString path = home.filePath(QStringLiteral("9_9_201.rfile"));
        QVERIFY(WriteBytes(path, stored));
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(CoverDecoder::Decode(path, wanted).size(), shown);
        QVERIFY(clock.elapsed() < 1000);
    }

    // Scans are found by walking the segments as a decoder does, never by the bytes alone.
    void jpegScans_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("scans");
        const auto segment = [](char code, const QByteArray &payload) {
            const int length = payload.size() + 2;
            return QByteArray("\xFF") + code + char(length >> 8) + char(length & 0xff) + payload;
        };
        const QByteArray soi("\xFF\xD8"), eoi("\xFF\xD9");
        const QByteArray sos = segment('\xDA', QByteArray::fromHex("01010000003f00"));
        const QByteArray table = segment('\xDB', QByteArray(65, '\x01'));
        QTest::newRow("one scan") << soi + table + sos + "\x12\x34\x56" + eoi << 1;
        QTest::newRow("stuffed bytes and restarts in the data")
            << soi + sos + QByteArray("\x12\xFF\x00\xDA\x02\xFF\xD0\x00\x09\xFF\xD7\x01", 12) + sos + "x" + eoi << 2;
        QTest::newRow("fill bytes before a marker") << soi + sos + "a\xFF\xFF\xFF" + sos.mid(1) + "b" + eoi << 2;
        QTest::newRow("scan markers inside a segment") << soi + segment('\xE1', sos + sos) + sos + "a" + eoi << 1;
        QTest::newRow("garbage between segments") << soi + table + "junk" + sos + "a" + eoi << 1;
        QTest::newRow("after the end of the image") << soi + sos + "a" + eoi + sos + "b" + eoi << 1;
        QTest::newRow("counted up to one past the limit")
            << soi + (sos + "a").repeated(1000) + eoi << CoverDecoder::MaxJpegScans + 1;
        QTest::newRow("not a jpeg") << QByteArray("GIF89a") + sos << 0;
    }
    void jpegScans()
    {
        QFETCH(QByteArray, bytes);
        QTEST(CoverFormat::CountJpegScans(bytes, CoverDecoder::MaxJpegScans), "scans");
    }

    void startsTwentyPerPassAndAtMostThirtyNine()
    {
        server.SetDefault(TestHttpResponse::Hang());
        QElapsedTimer timer;
        {
            UserImageRefresher refresher;
            QVERIFY(refresher.PrepareCacheFolder());
            for (int i = 1; i <= 19; ++i)
                refresher.QueueImage({i, 1}, false);
            QVERIFY(refresher.ProcessQueue());
            QCOMPARE(refresher.ActiveDownloadCount(), 19);

            for (int i = 101; i <= 130; ++i)
                refresher.QueueImage({i, 1}, false);
            QVERIFY(refresher.ProcessQueue());
            QCOMPARE(refresher.ActiveDownloadCount(), 39);
            // Newest first: the ten left are the earliest of the thirty.
            QCOMPARE(refresher.QueuedKeys().size(), 10);
            QCOMPARE(refresher.QueuedKeys().first(), ItemComparePart(110, 1));
            // A cover being downloaded is pending and not queued a second time.
            QVERIFY(refresher.IsImagePending({130, 1}));
            refresher.QueueImage({130, 1}, false);
            QCOMPARE(refresher.GetWaitingCount(), 49);

            // Twenty or more running: no new start.
            QVERIFY(refresher.ProcessQueue());
            QCOMPARE(refresher.ActiveDownloadCount(), 39);
            QVERIFY(server.WaitForRequests(39));
            timer.start();
        }
        // The hanging transfers end with their owner instead of running on for minutes.
        QVERIFY2(timer.elapsed() < NoHangMs, qPrintable(QString::number(timer.elapsed())));
    }

    void workerEndStopsItsDownloadsAndKeepsTheirCovers()
    {
        server.SetDefault(TestHttpResponse::Hang());
        UserImageRefresher refresher;
        QVERIFY(refresher.PrepareCacheFolder());
        for (int i = 201; i <= 203; ++i)
            refresher.QueueImage({i, 2}, false);
        refresher.StartIfNotRunning();
        QVERIFY(server.WaitForRequests(3));

        QElapsedTimer timer;
        timer.start();
        refresher.Stop();
        QVERIFY2(timer.elapsed() < NoHangMs, qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(refresher.ActiveDownloadCount(), 0);
        // Cut short: back in the queue in their old order, nothing half-written.
        QCOMPARE(refresher.QueuedKeys(), (Keys{{203, 2}, {202, 2}, {201, 2}}));
        QVERIFY(!refresher.IsImageCached({201, 2}));

        // A later run fetches them, by the book's id alone, a cover of up to 16 MiB. Reports cross to
        // this thread queued, as in the program.
        QMap<int, bool> reports;
        QObject receiver;
        connect(&refresher, &UserImageRefresher::completed, &receiver,
                [&reports](bool isSucc, const QVariant &uid) { reports.insert(uid.toInt(), isSucc); }, Qt::QueuedConnection);
        server.SetResponse("/local/images/201_201.jpg", TestHttpResponse::Ok(QByteArray(100 << 10, 'c')));
        server.SetResponse("/local/images/202_201.jpg", TestHttpResponse::Ok(QByteArray((16 << 20) + 1, 'c')));
        server.SetResponse("/local/images/203_201.jpg", TestHttpResponse::Ok(QByteArray(16 << 20, 'c')));
        refresher.StartIfNotRunning();
        QTRY_COMPARE_WITH_TIMEOUT(reports.size(), 3, 10000);
        refresher.Stop();
        QCOMPARE(reports, (QMap<int, bool>{{201, true}, {202, false}, {203, true}}));
        QCOMPARE(server.RequestCount("/local/images/202_201.jpg"), 1 + 3); // the one cut short, then three attempts
        QCOMPARE(QFileInfo(refresher.GetImageFilePath({201, 2})).size(), 100 << 10);
        QVERIFY(!refresher.IsImageCached({202, 2}) && refresher.IsImageCached({203, 2}));
    }

    // An answer is shown as plain text of bounded length (markup as text, a huge answer cut short but never
    // in the middle of a surrogate pair) and compared by its first three numbers. The loader reports a newer
    // version once and later starts (the version timer) do nothing; without one the next start (timer or
    // next program start) asks again.
    void versionAnswers_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("parsed");
        QTest::addColumn<bool>("answered"); // the loader's report: answered, newer
        QTest::addColumn<bool>("newer");
        const QString ones(31, QLatin1Char('1'));
        const QString emoji = QString::fromUtf8("\xF0\x9F\x98\x80");
        const QString nines(1 << 20, QLatin1Char('9'));
        QTest::newRow("patch above") << 200 << "3.3.6" << "3.3.6" << "3.3.6" << true << true;
        QTest::newRow("trailing line break") << 200 << " 3.3.6\r\n" << "3.3.6" << "3.3.6" << true << true;
        QTest::newRow("same version") << 200 << "3.3.5" << "3.3.5" << "3.3.5" << true << false;
        QTest::newRow("fourth part ignored") << 200 << "3.3.5.9" << "3.3.5.9" << "3.3.5" << true << false;
        QTest::newRow("two parts") << 200 << "4.0" << "4.0" << "" << true << false;
        QTest::newRow("letter in the middle") << 200 << "3.a.6" << "3.a.6" << "3.0.6" << true << false;
        QTest::newRow("markup") << 200 << "<a href='x'>9</a>" << "&lt;a href=&#39;x&#39;&gt;9&lt;/a&gt;" << "" << true << false;
        QTest::newRow("surrogate pair at the cut") << 200 << ones + emoji << ones << "" << true << false;
        QTest::newRow("blank") << 200 << " \r\n" << "" << "" << false << false;
        QTest::newRow("control and format characters only") << 200 << QString::fromUtf8("\x01\xE2\x80\xAE\t") << "" << "" << false << false;
        QTest::newRow("404") << 404 << "3.9.9" << "3.9.9" << "3.9.9" << false << false;
        // An answer may take 64 KiB.
        QTest::newRow("64 KiB") << 200 << "3.3.6" + QString(65531, QLatin1Char(' ')) << "3.3.6" << "3.3.6" << true << true;
        QTest::newRow("a byte more") << 200 << "3.9.9" + QString(65532, QLatin1Char(' ')) << "3.9.9" << "3.9.9" << false << false;
        QTest::newRow("huge") << 200 << nines << nines.left(32) << "" << false << false;
    }

    void versionAnswers()
    {
        QFETCH(int, status);
        QFETCH(QString, answer);
        QFETCH(bool, answered);
        QFETCH(bool, newer);
        QTEST(EscapedVersionText(answer), "shown");
        // As the loader does: the bounded text is what gets compared.
        QTEST(ParseVersionNumber(BoundedVersionText(answer)).toString(), "parsed");

        server.SetResponse(VersionPath, TestHttpResponse::Status(status, answer.toUtf8()));
        UserVersionLoader loader;
        QSignalSpy completed(&loader, &UserVersionLoader::completed);
        QSignalSpy newVersion(&loader, &UserVersionLoader::onNewVersion);
        loader.StartIfNotRunning();
        QTRY_VERIFY_WITH_TIMEOUT(!loader.IsRunning(), 5000);
        QCOMPARE(completed.size(), 1);
        QCOMPARE(completed.at(0), (QVariantList{answered, newer}));
        QCOMPARE(newVersion.size(), int(newer));
        QCOMPARE(loader.IsDone(), newer);
        QCOMPARE(server.Requests().at(0).path, VersionPath + "?id=version&kind=tessaly-mac");

        server.SetResponse(VersionPath, TestHttpResponse::Ok("3.3.6"));
        loader.StartIfNotRunning();
        QTRY_VERIFY_WITH_TIMEOUT(!loader.IsRunning(), 5000);
        QTest::qWait(newer ? 100 : 0);
        QCOMPARE(server.RequestCount(), newer ? 1 : 2);
        QCOMPARE(newVersion.size(), 1);
        QCOMPARE(newVersion.at(0).at(0).toString(), QStringLiteral("3.3.6"));
    }

    void pointerContents_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("slot");
        // Slots 0 to 10 are named as they are; anything else names slot 0.
        const QList<QPair<const char *, int>> rows{{"10", 10}, {"0", 0}, {"7", 7}, {"-1", 0}, {"11", 0}, {"abc", 0}, {"", 0}};
        for (const auto &row : rows)
            QTest::newRow(*row.first ? row.first : "empty") << QByteArray(row.first) << row.second;
        QTest::newRow("zero byte ends the text") << QByteArray("5\0" "9", 3) << 5;
    }

    void pointerContents()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, slot);
        QVERIFY(WriteBytes(CatalogueSlots::MakePreFilePath(), content));

        // The named slot is used only when its file is usable; slot 10 never is, slot 0 must not stand
        // in for it. A fresh search deletes an old file of the slot it returns, with what SQLite left beside it.
        for (const char *suffix : {"", "-journal", "-wal", "-shm"})
            QVERIFY(WriteBytes(CatalogueSlots::MakeCatalogueFileName(slot % 10) + suffix, "catalogue"));
        int picked = -1;
        bool needDownload = false;
        const QString path = CatalogueSlots::PickCatalogFile({}, picked, needDownload);
        const bool named = slot < 10 && !content.isEmpty();
        QCOMPARE(picked, named ? slot : 0);
        QCOMPARE(needDownload, !named);
        QCOMPARE(path, CatalogueSlots::MakeCatalogueFileName(picked));
        QCOMPARE(ReadBytes(path), named ? QByteArray("catalogue") : QByteArray());
        for (const char *suffix : {"-journal", "-wal", "-shm"})
            QCOMPARE(QFile::exists(path + suffix), named);
        // The pointer is rewritten as the pick.
        QVERIFY(CatalogueSlots::WritePreFile(picked));
        QCOMPARE(ReadBytes(CatalogueSlots::MakePreFilePath()), QByteArray::number(picked));
    }

    // Slots in use are skipped (case does not matter) and their files stay; the first other one is taken.
    void searchSkipsSlotsInUse_data()
    {
        QTest::addColumn<QList<int>>("inUse");
        QTest::addColumn<int>("slot"); // -1: none left
        QTest::newRow("some in use") << QList<int>{0, 1} << 2;
        QTest::newRow("only the last free") << QList<int>{0, 1, 2, 3, 4, 5, 6, 7, 8} << 9;
        QTest::newRow("all in use") << QList<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9} << -1;
    }
    void searchSkipsSlotsInUse()
    {
        QFETCH(QList<int>, inUse);
        QFETCH(int, slot);
        QStringList paths{QString()};
        for (int used : inUse) {
            paths << (used % 2 ? CatalogueSlots::MakeCatalogueFileName(used).toUpper() : CatalogueSlots::MakeCatalogueFileName(used));
            QVERIFY(WriteBytes(CatalogueSlots::MakeCatalogueFileName(used), QByteArray::number(used)));
        }
        int picked = -1;
        bool needDownload = false;
        const QString path = CatalogueSlots::PickCatalogFile(paths, picked, needDownload);
        QCOMPARE(QFileInfo(path).fileName(), slot < 0 ? QString() : QStringLiteral("single_us_1_3011_%1.rfile").arg(slot));
        QCOMPARE(picked, qMax(slot, 0));
        for (int used : inUse)
            QCOMPARE(ReadBytes(CatalogueSlots::MakeCatalogueFileName(used)), QByteArray::number(used));
    }

    // Clearing removes catalogue and cover files only (no folders, links or other files). It and the weekly
    // check (far below its threshold) wait for the file lock although given none.
    void clearingRemovesOnlyCacheFilesUnderTheLock()
    {
        QTemporaryDir outside;
        const QString target = outside.filePath(QStringLiteral("target.rfile"));
        for (const QString &path : {target, folder + "/keep.db", images + "/5_6_201.rfile"})
            QVERIFY(WriteBytes(path, QByteArray()));
        for (const char *suffix : {"", ".prefile", "-journal", "-wal", "-shm"})
            QVERIFY(WriteBytes(folder + "/single_us_7_3011_0.rfile" + suffix, QByteArray()));
        QVERIFY(QDir(folder).mkpath(QStringLiteral("sub.rfile")));
        QVERIFY(QFile::link(target, folder + QStringLiteral("/link.rfile")));
        const auto entries = [&] {
            return QDir(folder).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name)
                   + QDir(images).entryList(QDir::Files);
        };
        const QStringList others{QStringLiteral("keep.db"), QStringLiteral("link.rfile"), QStringLiteral("sub.rfile")};
        QStringList left = entries();
        const QList<QPair<std::function<void()>, QStringList>> jobs{
            {[] { ImageCache::ClearIfLarge(nullptr); }, left},
            {[] { ClearDatabaseCacheFolder(nullptr); }, others + QStringList{QStringLiteral("5_6_201.rfile")}},
            {[] { ClearImageCacheFolder(nullptr); }, others}};
        for (const auto &job : jobs) {
            Const::FileAccessMutex.lock();
            std::unique_ptr<QThread> worker(QThread::create(job.first));
            worker->start();
            QVERIFY(!worker->wait(200));
            QCOMPARE(entries(), left);
            Const::FileAccessMutex.unlock();
            QVERIFY(worker->wait(5000));
            QCOMPARE(entries(), left = job.second);
        }
        QVERIFY(QFile::exists(target));

        // The weekly check empties a cache whose listing, "." and ".." included, reaches 40001 entries.
        for (int i = 0; i < 39998; ++i)
            QFile(images + QStringLiteral("/%1_1_201.rfile").arg(i)).open(QIODevice::WriteOnly);
        QVERIFY(!ImageCache::ClearIfLarge(nullptr));
        QVERIFY(WriteBytes(images + "/0_2_201.rfile", QByteArray()));
        QVERIFY(ImageCache::ClearIfLarge(nullptr));
        QCOMPARE(QDir(images).count(), 2u);
    }
};

QTEST_MAIN(TestCoversVersion)
#include "test_covers_version.moc"
