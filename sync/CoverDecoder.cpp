#include "CoverDecoder.h"

#include "CoverFormat.h"
#include "FileDownloader.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QMutexLocker>
#include <QVariant>

#include <limits>

CoverDecoder::CoverDecoder(QObject *parent) : QObject(parent)
{
    pool.setMaxThreadCount(1);
}

CoverDecoder::~CoverDecoder()
{
    Stop();
}

QImage CoverDecoder::Decode(const QString &path, const QSize &size)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > FileDownloader::MaxCoverBytes)
        return QImage();
    QByteArray bytes = file.readAll();
    file.close();
    // Cache files are named after the book, not the format: the bytes tell, and only a
    // picture format is decoded, never a container whose header speaks for another image.
    const QByteArray format = CoverFormat::Detect(bytes);
    if (format.isEmpty())
        return QImage();
    if (format == "jpeg" && CoverFormat::CountJpegScans(bytes, MaxJpegScans) > MaxJpegScans)
        return QImage();
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, format);
    reader.setAutoDetectImageFormat(false);
    // The header's size decides before a single pixel is decoded: a tiny file may claim
    // a picture of gigabytes.
    QSize full = reader.size();
    // A BMP whose rows run top-down gives its height as a negative number.
    if (format == "bmp" && full.height() < 0 && full.height() != std::numeric_limits<int>::min())
        full.setHeight(-full.height());
    if (!full.isValid() || full.width() > MaxSide || full.height() > MaxSide
        || qint64(full.width()) * full.height() > MaxPixels)
        return QImage();
    // Compressed data that decodes to far more than the picture holds makes the decoder work
    // through all of it; covers carry no such thing.
    const qint64 gifPixels = 2 * qint64(full.width()) * full.height() + MaxGifExtraPixels;
    if ((format == "png" && !CoverFormat::PngDataFits(bytes))
        || (format == "gif" && CoverFormat::CountGifPixels(bytes, gifPixels) > gifPixels))
        return QImage();
    QSize target = full;
    if (!size.isEmpty() && (full.width() > size.width() || full.height() > size.height()))
        target = full.scaled(size, Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
    if (target != full)
        reader.setScaledSize(target);
    QImage image = reader.read();
    if (image.isNull() || image.width() <= 0)
        return QImage();
    // Not every format decodes to the asked size by itself.
    if (image.size() != target)
        image = image.scaled(target, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    return image;
}

CoverDecoder::Slot CoverDecoder::SlotOf(const ItemComparePart &key, const QSize &size)
{
    return Slot(key, (quint64(quint32(size.width())) << 32) | quint32(size.height()));
}

CoverDecoder::Outcome CoverDecoder::Take(const ItemComparePart &key, const QString &path, const QSize &size,
                                         QImage &image)
{
    const Slot slot = SlotOf(key, size);
    QMutexLocker locker(&mutex);
    const auto found = done.find(slot);
    if (found != done.end()) {
        const bool failed = found->failed;
        image = found->image;
        done.erase(found);
        doneOrder.removeOne(slot);
        return failed ? Failed : Ready;
    }
    for (int i = 0; i < waiting.size(); ++i) {
        if (SlotOf(waiting.at(i).key, waiting.at(i).size) == slot) {
            // Asked again: the page shows it now, so it goes first.
            waiting.move(i, 0);
            return Pending;
        }
    }
    if (stopped)
        return Pending;
    waiting.prepend(Request{key, size, path});
    while (waiting.size() > MaxWaiting)
        waiting.removeLast();
    if (!draining) {
        draining = true;
        pool.start([this] { Drain(); });
    }
    return Pending;
}

void CoverDecoder::Drain()
{
    for (;;) {
        Request request;
        {
            QMutexLocker locker(&mutex);
            if (waiting.isEmpty() || stopped) {
                draining = false;
                return;
            }
            request = waiting.takeFirst();
        }
        const QImage image = Decode(request.path, request.size);
        {
            QMutexLocker locker(&mutex);
            const Slot slot = SlotOf(request.key, request.size);
            if (!done.contains(slot))
                doneOrder.append(slot);
            done.insert(slot, Result{image, image.isNull()});
            while (doneOrder.size() > MaxUntaken)
                done.remove(doneOrder.takeFirst());
        }
        emit decoded(QVariant(request.key.uid), QVariant(request.key.imageCompId));
    }
}

void CoverDecoder::Stop()
{
    {
        QMutexLocker locker(&mutex);
        stopped = true;
        waiting.clear();
    }
    pool.waitForDone();
}
