#pragma once

#include <QObject>
#include <QString>

class QFont;
class QLabel;

// Shows a catalogue text in a word-wrapped label in at most maxLines lines at the label's width:
// a text that needs more, or has a word wider than the label, is broken inside words and ends in
// "…". Texts that fit are shown as they are. The label asks no width of the layout itself, so a
// long text can neither widen the window nor push the rows below it out of the pane.
class LabelTextFitter : public QObject
{
public:
    LabelTextFitter(QLabel *label, int maxLines);

    void SetText(const QString &text);
    // The text as shown at the width in pixels.
    static QString Fitted(const QString &text, const QFont &font, int width, int maxLines);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void Fit();

    QLabel *label;
    int maxLines;
    QString text;
};
