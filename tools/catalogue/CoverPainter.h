#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

// Draws a book cover for the local catalogue service: the title and the author on a coloured,
// textured background. The same book always gives the same picture. Safe to call from several
// threads at once when the font database supports threaded text rendering.
class CoverPainter
{
public:
    CoverPainter() = delete;

    static const int Width = 300;
    static const int Height = 450;
    static const int JpegQuality = 85;

    static QImage Paint(qint64 uid, const QString &title, const QString &author);
    // The cover as JPEG bytes; empty when encoding failed.
    static QByteArray PaintJpeg(qint64 uid, const QString &title, const QString &author);
};
