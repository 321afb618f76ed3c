#pragma once

class QColor;
class QStatusBar;
class QWidget;

// Small look helpers shared by the main window, the views and the dialogs.
void SetStatusBarItemStyle(QStatusBar *bar);
void SetToolButtonStyle(QWidget *toolBar);
void SetWidgetBackgroundColor(QWidget *widget, const QColor &color);
void SetWidgetTextColor(QWidget *widget, const QColor &color);
