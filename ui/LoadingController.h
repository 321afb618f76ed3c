#pragma once

#include <QString>

class QLabel;
class QLayout;
class QMovie;
class QWidget;

// Animated "Loading..." panel that stands in for the widgets of a layout while long work runs.
// Embedded by value in its owner; the panel belongs to the layout's widget once added.
class LoadingController
{
public:
    LoadingController() = default;
    ~LoadingController();

    LoadingController(const LoadingController &) = delete;
    LoadingController &operator=(const LoadingController &) = delete;

    // Builds the panel once; an empty title becomes "Loading..." in the caller's variable too.
    QWidget *Create(bool large, QString &title);
    // Hides every widget of the layout and shows the panel in their place.
    void ShowInLayout(QLayout *target);
    // Hides the panel and shows the layout's other widgets again.
    void Hide();

    bool added = false;
    QWidget *panel = nullptr;
    QLayout *layout = nullptr;
    QLabel *titleLabel = nullptr;
    QLabel *messageLabel = nullptr;
    QMovie *movie = nullptr;
};
