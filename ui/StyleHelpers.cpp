#include "StyleHelpers.h"

#include <QColor>
#include <QPalette>
#include <QStatusBar>
#include <QWidget>

void SetStatusBarItemStyle(QStatusBar *bar)
{
    if (bar)
        bar->setStyleSheet(QStringLiteral("QStatusBar::item { border: none; }; "));
}

void SetToolButtonStyle(QWidget *toolBar)
{
    if (toolBar)
        toolBar->setStyleSheet(QStringLiteral("QToolButton { padding-right: -8px; }"));
}

void SetWidgetBackgroundColor(QWidget *widget, const QColor &color)
{
    if (!widget)
        return;
    QPalette palette = widget->palette();
    const QBrush brush(color, Qt::SolidPattern);
    palette.setBrush(QPalette::All, QPalette::Base, brush);
    palette.setBrush(QPalette::All, QPalette::Window, brush);
    widget->setAutoFillBackground(true);
    widget->setPalette(palette);
}

void SetWidgetTextColor(QWidget *widget, const QColor &color)
{
    if (!widget)
        return;
    QPalette palette = widget->palette();
    palette.setBrush(QPalette::All, QPalette::WindowText, QBrush(color, Qt::SolidPattern));
    widget->setPalette(palette);
}
