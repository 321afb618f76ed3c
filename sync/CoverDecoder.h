#pragma once

#include "catalogue/ItemComparePart.h"

#include <QHash>
#include <QImage>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QSize>
#include <QString>
#include <QThreadPool>

// Decodes cached cover files on a thread of its own, straight to the size they are shown at,
// and hands the images back to the GUI thread, which only turns them into pixmaps. Only the
// picture formats of covers are decoded, and the size in the file's header (and a JPEG's number
// of scans, the data a PNG or GIF decodes to) is checked before decoding: anything else counts
// as undecodable.
class CoverDecoder : public QObject
{
    Q_OBJECT
public:
    static constexpr int MaxSide = 10000;
    static constexpr qint64 MaxPixels = 16LL * 1024 * 1024;
    // Each scan of a JPEG costs the decoder a pass over the whole picture. Encoders write 10
    // (the usual progression) to a few dozen; a picture of MaxPixels with 64 scans decodes in
    // well under a second, while one with thousands would hold the decoder for minutes.
    static constexpr int MaxJpegScans = 64;
    // A GIF's first picture may decode to twice its pixels and this many more before it is
    // refused: its frame may be drawn partly outside the picture.
    static constexpr qint64 MaxGifExtraPixels = 64 * 1024;
    // Requests beyond this many wait no more: the oldest ones (pages left behind) are dropped.
    static constexpr int MaxWaiting = 420;
    // Decoded images nobody took (their page was left) are dropped beyond this many.
    static constexpr int MaxUntaken = 64;

    enum Outcome { Pending, Ready, Failed };

    explicit CoverDecoder(QObject *parent = nullptr);
    ~CoverDecoder() override;

    // Any thread: the file shrunk to fit size keeping its aspect (never enlarged; an empty size
    // keeps the file's own). Null when it cannot be decoded or its size is refused.
    static QImage Decode(const QString &path, const QSize &size);

    // The decoded image of the file for key at size once it is ready (handed out once), a
    // failure, or Pending after queueing it (newest first); decoded is emitted when it is done.
    Outcome Take(const ItemComparePart &key, const QString &path, const QSize &size, QImage &image);
    // Drops what waits and waits for the decode in progress.
    void Stop();

signals:
    void decoded(const QVariant &uid, const QVariant &compare);

private:
    struct Request
    {
        ItemComparePart key;
        QSize size;
        QString path;
    };
    struct Result
    {
        QImage image;
        bool failed;
    };
    using Slot = QPair<ItemComparePart, quint64>;
    static Slot SlotOf(const ItemComparePart &key, const QSize &size);
    void Drain();

    QMutex mutex; // guards everything below; never held while decoding or emitting
    QList<Request> waiting;
    QHash<Slot, Result> done;
    QList<Slot> doneOrder;
    bool draining = false;
    bool stopped = false;
    QThreadPool pool;
};
