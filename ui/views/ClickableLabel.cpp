#include "views/ClickableLabel.h"

#include <QMouseEvent>
#include <QPainter>

ClickableLabel::ClickableLabel(const ItemComparePart &bookKey, QWidget *tileWidget, QWidget *parent)
    : QLabel(parent),
      key(bookKey),
      tile(tileWidget),
      normalPen(QBrush(QColor(105, 105, 105)), 2.0, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin),
      selectedPen(QBrush(Qt::red), 4.0, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin)
{
}

void ClickableLabel::mousePressEvent(QMouseEvent *event)
{
    // A right click selects the tile before its context menu opens.
    emit labelClicked(this);
    event->accept();
}

void ClickableLabel::mouseReleaseEvent(QMouseEvent *event)
{
    event->accept();
}

void ClickableLabel::paintEvent(QPaintEvent *event)
{
    QLabel::paintEvent(event);
    QPainter painter(this);
    painter.setPen(selected ? selectedPen : normalPen);
    painter.drawRect(0, 0, width() - 1, height() - 1);
}
