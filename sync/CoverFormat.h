#pragma once

#include <QByteArray>

// What a cover file really is, told from its bytes rather than its name or a container's
// claim: only the picture formats covers are served in are decoded at all.
namespace CoverFormat {

// The Qt format name of a cover ("jpeg", "png", "gif" or "bmp"), or empty for anything else
// (icons and other containers, text formats, unknown data).
QByteArray Detect(const QByteArray &bytes);

// The scans of a JPEG (its start-of-scan segments up to the end of the image), counted by
// walking its segments the way a decoder reads them; stops counting once past limit.
// Every scan makes the decoder go over the whole picture again.
int CountJpegScans(const QByteArray &bytes, int limit);

// Whether a PNG's image data inflates to no more than the rows of its declared size need (and
// a little): the data is inflated with that budget and nothing is kept. Deflate expands up to a
// thousandfold, and the decoder inflates every byte of the stream, so a small file could hold
// it for minutes. False for a PNG whose header is not valid.
bool PngDataFits(const QByteArray &bytes);

// The pixels a GIF's first picture decodes to, found by running its LZW codes without making
// a single pixel; stops counting once past limit. An LZW code may stand for thousands of pixels,
// and the decoder visits each of them, inside the picture or not.
qint64 CountGifPixels(const QByteArray &bytes, qint64 limit);

} // namespace CoverFormat
