#include "mainwindow/LabelTextFitter.h"

#include <QEvent>
#include <QFontMetrics>
#include <QLabel>
#include <QStringList>
#include <QTextLayout>
#include <QVector>

#include <algorithm>

namespace {

const QChar kEllipsis(0x2026);
// More than any label line holds: longer texts are cut before they are laid out, so that a text
// at the store's limit is not shaped whole on every resize.
constexpr int kLongestLaidOut = 4096;

struct Lines
{
    QVector<QPair<int, int>> spans; // start, length; one more than asked for at most
    bool tooWide = false;
};

Lines LayOut(const QString &text, const QFont &font, int width, int maxLines, QTextOption::WrapMode mode)
{
    QTextLayout layout(text, font);
    QTextOption option;
    option.setWrapMode(mode);
    layout.setTextOption(option);
    Lines lines;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid() && lines.spans.size() <= maxLines;
         line = layout.createLine()) {
        line.setLineWidth(width);
        lines.tooWide = lines.tooWide || line.naturalTextWidth() > width;
        lines.spans.append({line.textStart(), line.textLength()});
    }
    layout.endLayout();
    return lines;
}

QString WithoutTrailingSpace(QString text)
{
    int end = text.size();
    while (end > 0 && text.at(end - 1).isSpace())
        --end;
    text.truncate(end);
    return text;
}

} // namespace

LabelTextFitter::LabelTextFitter(QLabel *fitted, int lines)
    : QObject(fitted), label(fitted), maxLines(std::max(1, lines))
{
    // The width comes from the pane, never from the text.
    label->setMinimumWidth(1);
    label->installEventFilter(this);
}

void LabelTextFitter::SetText(const QString &newText)
{
    text = newText;
    Fit();
}

bool LabelTextFitter::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == label && (event->type() == QEvent::Resize || event->type() == QEvent::Show))
        Fit();
    return QObject::eventFilter(watched, event);
}

void LabelTextFitter::Fit()
{
    // Before it is laid out the label's width means nothing; it is fitted when shown.
    if (!label->isVisible()) {
        label->setText(text);
        return;
    }
    label->setText(Fitted(text, label->font(), label->contentsRect().width(), maxLines));
}

QString LabelTextFitter::Fitted(const QString &text, const QFont &font, int width, int maxLines)
{
    width = std::max(1, width);
    maxLines = std::max(1, maxLines);
    const bool cut = text.size() > kLongestLaidOut;
    // The label draws a line break as a line separator.
    QString laid = text.left(kLongestLaidOut);
    if (cut && laid.at(laid.size() - 1).isHighSurrogate())
        laid.chop(1);
    laid.replace(QLatin1Char('\n'), QChar::LineSeparator);
    const Lines asLabel = LayOut(laid, font, width, maxLines, QTextOption::WordWrap);
    if (!cut && !asLabel.tooWide && asLabel.spans.size() <= maxLines)
        return text;

    laid = WithoutTrailingSpace(laid);
    const Lines lines = LayOut(laid, font, width, maxLines, QTextOption::WrapAtWordBoundaryOrAnywhere);
    const int kept = std::min(int(lines.spans.size()), maxLines);
    QStringList shown;
    for (int i = 0; i + 1 < kept; ++i)
        shown << WithoutTrailingSpace(laid.mid(lines.spans.at(i).first, lines.spans.at(i).second));
    QString last = laid.mid(lines.spans.at(kept - 1).first);
    const int separator = last.indexOf(QChar::LineSeparator);
    const bool more = cut || separator >= 0;
    if (separator >= 0)
        last.truncate(separator);
    shown << QFontMetrics(font).elidedText(more ? last + kEllipsis : last, Qt::ElideRight, width);
    return shown.join(QLatin1Char('\n'));
}
