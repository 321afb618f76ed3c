#pragma once

#include <QLayout>
#include <QList>
#include <QStyle>

// Places items left to right in their preferred sizes and wraps like words of a text.
// Negative spacings and margin leave the gaps to the style.
class FlowLayout : public QLayout
{
public:
    explicit FlowLayout(QWidget *parent, int margin = -1, int hSpacing = -1, int vSpacing = -1);
    explicit FlowLayout(int margin = -1, int hSpacing = -1, int vSpacing = -1);
    ~FlowLayout() override;

    void addItem(QLayoutItem *item) override;
    int horizontalSpacing() const;
    int verticalSpacing() const;
    Qt::Orientations expandingDirections() const override;
    bool hasHeightForWidth() const override;
    int heightForWidth(int width) const override;
    int count() const override;
    QLayoutItem *itemAt(int index) const override;
    QSize minimumSize() const override;
    void setGeometry(const QRect &rect) override;
    QSize sizeHint() const override;
    QLayoutItem *takeAt(int index) override;

private:
    int doLayout(const QRect &rect, bool testOnly) const;
    int smartSpacing(QStyle::PixelMetric pm) const;
    static int itemSpacing(QLayoutItem *item, int fixed, Qt::Orientation orientation);

    QList<QLayoutItem *> itemList;
    int hSpace;
    int vSpace;
    // The constructor's margin (QLayout reports only the resolved one).
    int givenMargin;
};
