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

} // namespace CoverFormat
