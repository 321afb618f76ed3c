#include "CoverFormat.h"

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

} // namespace CoverFormat
