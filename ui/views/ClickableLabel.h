#pragma once

#include "catalogue/ItemComparePart.h"

#include <QLabel>
#include <QPen>

// The cover of one tile: any mouse press selects it; drawn with a thin grey or thick red frame.
class ClickableLabel : public QLabel
{
    Q_OBJECT

public:
    ClickableLabel(const ItemComparePart &bookKey, QWidget *tileWidget, QWidget *parent = nullptr);

    ItemComparePart key;
    QWidget *tile;
    bool selected = false;
    QPen normalPen;
    QPen selectedPen;

signals:
    void labelClicked(ClickableLabel *label);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
};
