#include "CoverFormat.h"

#include <QVector>
#include <QtEndian>

#include <zlib.h>

#include <cstring>

namespace CoverFormat {

QByteArray Detect(const QByteArray &bytes)
{
    static const struct
    {
        QByteArray magic;
        QByteArray format;
    } Known[] = {
        {QByteArray("\xFF\xD8\xFF", 3), "jpeg"},
        {QByteArray("\x89PNG\r\n\x1A\n", 8), "png"},
        {QByteArray("GIF87a"), "gif"},
        {QByteArray("GIF89a"), "gif"},
        {QByteArray("BM"), "bmp"},
    };
    for (const auto &known : Known) {
        if (bytes.startsWith(known.magic))
            return known.format;
    }
    return QByteArray();
}

namespace {
const uchar Marker = 0xFF;
const uchar StartOfImage = 0xD8;
const uchar EndOfImage = 0xD9;
const uchar StartOfScan = 0xDA;
const uchar Temporary = 0x01;

bool IsRestart(uchar code)
{
    return code >= 0xD0 && code <= 0xD7;
}
} // namespace

int CountJpegScans(const QByteArray &bytes, int limit)
{
    const auto *data = reinterpret_cast<const uchar *>(bytes.constData());
    const int size = bytes.size();
    if (size < 2 || data[0] != Marker || data[1] != StartOfImage)
        return 0;
    int scans = 0;
    int at = 2;
    while (at < size && scans <= limit) {
        // Between segments, and through a scan's entropy-coded data, everything up to the
        // next marker is skipped; a marker may be preceded by any number of fill bytes.
        if (data[at] != Marker) {
            ++at;
            continue;
        }
        while (at < size && data[at] == Marker)
            ++at;
        if (at >= size)
            break;
        const uchar code = data[at++];
        // 0xFF00 is a stuffed 0xFF byte of entropy-coded data and restart markers belong to
        // the scan; neither has a length.
        if (code == 0 || IsRestart(code) || code == Temporary)
            continue;
        if (code == EndOfImage || code == StartOfImage)
            break;
        if (at + 2 > size)
            break;
        const int length = (data[at] << 8) | data[at + 1];
        if (length < 2)
            break;
        at += length;
        // The scan's entropy-coded data follows; it ends at the next marker that is
        // not a restart, found like any other.
        if (code == StartOfScan)
            ++scans;
    }
    return scans;
}

namespace {

// Bytes of one filtered row: its filter byte, then its pixels' bits rounded up to whole bytes.
qint64 PngRowBytes(qint64 width, int bitsPerPixel)
{
    return 1 + (width * bitsPerPixel + 7) / 8;
}

} // namespace

bool PngDataFits(const QByteArray &bytes)
{
    const auto *data = reinterpret_cast<const uchar *>(bytes.constData());
    const qint64 size = bytes.size();
    // The signature, then the header chunk: length 13, "IHDR", width, height, bit depth,
    // colour type, compression, filter, interlace.
    if (size < 8 + 8 + 13 || qFromBigEndian<quint32>(data + 8) != 13 || std::memcmp(data + 12, "IHDR", 4) != 0)
        return false;
    const qint64 width = qFromBigEndian<quint32>(data + 16);
    const qint64 height = qFromBigEndian<quint32>(data + 20);
    const int depth = data[24];
    static const int Channels[] = {1, 0, 3, 1, 2, 0, 4}; // by colour type
    const int colourType = data[25];
    if (width < 1 || height < 1 || width > (1 << 24) || height > (1 << 24) || colourType > 6
        || Channels[colourType] == 0 || (depth != 1 && depth != 2 && depth != 4 && depth != 8 && depth != 16))
        return false;
    // The rows, and a little more: interlacing adds at most two bytes a row (the filter bytes and
    // partly filled bytes of its seven passes), and an encoder has no reason to write more.
    const qint64 budget = height * (PngRowBytes(width, Channels[colourType] * depth) + 2) + 64 * 1024;

    z_stream stream{};
    if (inflateInit(&stream) != Z_OK)
        return false;
    uchar sink[64 * 1024];
    qint64 inflated = 0;
    bool ended = false;
    bool inData = false;
    qint64 at = 8;
    // The image data is the run of consecutive IDAT chunks, read as one stream.
    while (!ended && at + 8 <= size) {
        const qint64 length = qFromBigEndian<quint32>(data + at);
        const bool isData = std::memcmp(data + at + 4, "IDAT", 4) == 0;
        const qint64 start = at + 8;
        at = start + length + 4; // past the CRC
        if (!isData) {
            if (inData)
                break;
            continue;
        }
        inData = true;
        stream.next_in = const_cast<uchar *>(data + start);
        stream.avail_in = uInt(qMin(length, size - start));
        while (stream.avail_in > 0 && !ended) {
            stream.next_out = sink;
            stream.avail_out = sizeof sink;
            const int result = inflate(&stream, Z_NO_FLUSH);
            inflated += qint64(sizeof sink) - stream.avail_out;
            // A damaged stream ends the decoder's reading there too.
            ended = result != Z_OK || inflated > budget;
        }
    }
    inflateEnd(&stream);
    return inflated <= budget;
}

qint64 CountGifPixels(const QByteArray &bytes, qint64 limit)
{
    const auto *data = reinterpret_cast<const uchar *>(bytes.constData());
    const int size = bytes.size();
    // Header and screen descriptor; the global colour table follows when its flag is set.
    if (size < 13 || !(bytes.startsWith("GIF87a") || bytes.startsWith("GIF89a")))
        return 0;
    int at = 13 + ((data[10] & 0x80) ? 3 * (2 << (data[10] & 7)) : 0);
    const auto skipSubBlocks = [&] {
        while (at < size && data[at] != 0)
            at += 1 + data[at];
        ++at;
    };
    // Extensions before the first picture are passed over.
    while (at < size && data[at] == 0x21) {
        at += 2;
        skipSubBlocks();
    }
    if (at + 10 > size || data[at] != 0x2C)
        return 0;
    const uchar flags = data[at + 9];
    at += 10 + ((flags & 0x80) ? 3 * (2 << (flags & 7)) : 0);
    if (at >= size)
        return 0;
    const int minimumBits = data[at++];
    // With 12 bits to start with the table never grows: no code stands for more than two pixels.
    const int MaxBits = 12;
    if (minimumBits >= MaxBits)
        return 0;

    // Codes are run as the decoder runs them, with its checks, following each code's chain of
    // prefixes to learn how many pixels it stands for; no pixel is made. The walk costs what
    // the pixels it counts would, and it ends once past the limit.
    const int MaxCodes = 1 << MaxBits;
    const int clear = 1 << minimumBits;
    const int end = clear + 1;
    QVector<int> prefix(MaxCodes, 0);
    int codeBits = minimumBits + 1;
    int widenAt = 2 * clear;
    int nextCode = clear + 2;
    bool needFirst = true;
    int oldCode = 0;
    qint64 pixels = 0;
    quint32 accumulator = 0;
    int bits = 0;
    while (at < size && data[at] != 0 && pixels <= limit) {
        const int blockEnd = qMin(size, at + 1 + data[at]);
        for (++at; at < blockEnd && pixels <= limit; ++at) {
            accumulator |= quint32(data[at]) << bits;
            bits += 8;
            while (bits >= codeBits && pixels <= limit) {
                int code = int(accumulator & ((1u << codeBits) - 1));
                accumulator >>= codeBits;
                bits -= codeBits;
                if (code == clear) {
                    if (!needFirst) {
                        codeBits = minimumBits + 1;
                        widenAt = 2 * clear;
                        nextCode = clear + 2;
                    }
                    needFirst = true;
                    continue;
                }
                if (code == end)
                    return pixels;
                if (needFirst) {
                    oldCode = code;
                    needFirst = false;
                    ++pixels;
                    continue;
                }
                const int inCode = code;
                int length = 0;
                if (code >= nextCode) { // not defined yet: the previous string and one more
                    ++length;
                    code = oldCode;
                }
                while (code >= clear + 2) {
                    // Where the decoder gives up, so does the count.
                    if (code >= nextCode || code == prefix.at(code) || ++length >= 2 * MaxCodes)
                        return pixels;
                    code = prefix.at(code);
                }
                pixels += length + 1;
                if (nextCode < MaxCodes) {
                    prefix[nextCode++] = oldCode;
                    if (nextCode >= widenAt && widenAt < MaxCodes) {
                        widenAt *= 2;
                        ++codeBits;
                    }
                }
                oldCode = inCode;
            }
        }
        at = blockEnd;
    }
    return pixels;
}

} // namespace CoverFormat
