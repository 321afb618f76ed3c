#include "LoadingController.h"

#include <QCoreApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMovie>
#include <QVBoxLayout>

LoadingController::~LoadingController()
{
    if (movie) {
        delete movie;
        movie = nullptr;
    }
    // A panel never added to a layout has no owner but us.
    if (panel && !added && !panel->parent())
        delete panel;
}

QWidget *LoadingController::Create(bool large, QString &title)
{
    auto *widget = new QWidget();
    auto *row = new QHBoxLayout();

    movie = new QMovie(QStringLiteral(":/local/images/other/Reload-2s-120px.gif"), QByteArray());
    auto *animation = new QLabel();
    animation->setMovie(movie);
    animation->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    movie->start();

    if (title.isEmpty())
        title = QCoreApplication::translate("LoadingController", "Loading...");

    titleLabel = new QLabel(title);
    titleLabel->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);

    messageLabel = new QLabel();
    messageLabel->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    messageLabel->setMinimumWidth(400);
    messageLabel->setMaximumWidth(400);
    messageLabel->setWordWrap(true);

    row->addWidget(animation);
    auto *texts = new QVBoxLayout();
    texts->addWidget(titleLabel);
    texts->addWidget(messageLabel);
    row->addLayout(texts);

    if (large) {
        QFont titleFont = titleLabel->font();
        titleFont.setPointSize(40);
        titleLabel->setFont(titleFont);
        QFont messageFont = messageLabel->font();
        messageFont.setPointSize(16);
        messageLabel->setFont(messageFont);
    }

    auto *grid = new QGridLayout();
    grid->addLayout(row, 0, 0, Qt::AlignCenter);
    widget->setLayout(grid);
    panel = widget;
    return panel;
}

void LoadingController::ShowInLayout(QLayout *target)
{
    layout = target;
    if (!layout)
        return;
    for (int i = 0; i < layout->count(); ++i) {
        QLayoutItem *item = layout->itemAt(i);
        if (item && item->widget())
            item->widget()->hide();
    }
    if (!panel)
        return;
    if (!added) {
        layout->addWidget(panel);
        added = true;
    }
    panel->show();
    if (movie)
        movie->start();
    // Let the panel paint before the caller's long work starts.
    QCoreApplication::processEvents();
}

void LoadingController::Hide()
{
    if (!panel || !layout)
        return;
    panel->hide();
    // A hidden animation would keep waking the program for nothing.
    if (movie)
        movie->stop();
    for (int i = 0; i < layout->count(); ++i) {
        QLayoutItem *item = layout->itemAt(i);
        if (item && item->widget() && item->widget() != panel)
            item->widget()->show();
    }
}
