#include "CoverPainter.h"

#include <QBuffer>
#include <QFont>
#include <QFontMetrics>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRandomGenerator>

namespace {

// The largest font size (from start down to minimum) at which text wraps into the box.
QFont FitFont(QFont font, const QString &text, const QRect &box, int start, int minimum)
{
    for (int size = start; size > minimum; size -= 2) {
        font.setPixelSize(size);
        const QRect needed = QFontMetrics(font).boundingRect(box, Qt::AlignCenter | Qt::TextWordWrap, text);
        if (needed.width() <= box.width() && needed.height() <= box.height())
            return font;
    }
    font.setPixelSize(minimum);
    return font;
}

void PaintBackground(QPainter &painter, QRandomGenerator &random, const QColor &base)
{
    QLinearGradient gradient(0, 0, CoverPainter::Width * 0.3, CoverPainter::Height);
    gradient.setColorAt(0, base.lighter(125));
    gradient.setColorAt(1, base.darker(170));
    painter.fillRect(0, 0, CoverPainter::Width, CoverPainter::Height, gradient);

    // One of a few ornaments, so that the shelf does not look like one book repeated.
    painter.setPen(Qt::NoPen);
    const int style = int(random.bounded(3));
    for (int i = 0; i < 24; ++i) {
        QColor tone = i % 2 ? base.lighter(150 + int(random.bounded(60))) : base.darker(130 + int(random.bounded(60)));
        tone.setAlpha(30 + int(random.bounded(60)));
        painter.setBrush(tone);
        const int x = int(random.bounded(CoverPainter::Width));
        const int y = int(random.bounded(CoverPainter::Height));
        const int size = 20 + int(random.bounded(140));
        if (style == 0) {
            painter.drawEllipse(QPoint(x, y), size / 2, size / 2);
        } else if (style == 1) {
            painter.drawRect(QRect(0, y, CoverPainter::Width, size / 6 + 2));
        } else {
            QPainterPath path;
            path.moveTo(x, y);
            path.lineTo(x + size, y + size / 2);
            path.lineTo(x - size / 3, y + size);
            path.closeSubpath();
            painter.drawPath(path);
        }
    }
}

// Fine grain like printed card; it also gives the JPEG the size of a real scanned cover.
void AddGrain(QImage &image, QRandomGenerator &random)
{
    for (int y = 0; y < image.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const int grain = int(random.bounded(13)) - 6;
            const QRgb pixel = line[x];
            line[x] = qRgb(qBound(0, qRed(pixel) + grain, 255), qBound(0, qGreen(pixel) + grain, 255),
                           qBound(0, qBlue(pixel) + grain, 255));
        }
    }
}

} // namespace

QImage CoverPainter::Paint(qint64 uid, const QString &title, const QString &author)
{
    QRandomGenerator random(quint32(uid * 2654435761u) ^ 0x7e55a1u);
    const QColor base = QColor::fromHsv(int(random.bounded(360)), 90 + int(random.bounded(140)),
                                        90 + int(random.bounded(120)));
    QImage image(Width, Height, QImage::Format_RGB32);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::TextAntialiasing);
        PaintBackground(painter, random, base);

        // Title panel in the upper half.
        const QRect panel(24, 60, Width - 48, 190);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(255, 255, 255, 215));
        painter.drawRoundedRect(panel, 6, 6);
        painter.setPen(QPen(base.darker(160), 2));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(panel.adjusted(6, 6, -6, -6), 4, 4);

        QFont titleFont(QStringLiteral("DejaVu Serif"));
        titleFont.setBold(true);
        const QRect titleBox = panel.adjusted(18, 18, -18, -18);
        painter.setFont(FitFont(titleFont, title, titleBox, 40, 14));
        painter.setPen(base.darker(260));
        painter.drawText(titleBox, Qt::AlignCenter | Qt::TextWordWrap, title);

        QFont authorFont(QStringLiteral("DejaVu Sans"));
        const QRect authorBox(20, Height - 120, Width - 40, 70);
        painter.setFont(FitFont(authorFont, author, authorBox, 26, 12));
        painter.setPen(QColor(255, 255, 255, 235));
        painter.drawText(authorBox, Qt::AlignCenter | Qt::TextWordWrap, author);

        painter.setPen(QPen(QColor(255, 255, 255, 150), 1));
        painter.drawLine(60, Height - 130, Width - 60, Height - 130);
    }
    AddGrain(image, random);
    return image;
}

QByteArray CoverPainter::PaintJpeg(qint64 uid, const QString &title, const QString &author)
{
    const QImage image = Paint(uid, title, author);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "JPEG", JpegQuality))
        return QByteArray();
    return bytes;
}
