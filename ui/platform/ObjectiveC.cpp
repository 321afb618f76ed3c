#include "platform/ObjectiveC.h"

#include "platform/QtSingleApplication.h"

#include <QApplication>
#include <QMainWindow>
#include <QPointer>

namespace {
QPointer<QWidget> registeredWindow;
bool applicationHidden = false;

QWidget *TargetWindow()
{
    if (registeredWindow) {
        return registeredWindow.data();
    }
    if (auto *single = qobject_cast<QtSingleApplication *>(QCoreApplication::instance())) {
        if (QWidget *window = single->activationWindow()) {
            return window;
        }
    }
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (QWidget *window : windows) {
        if (qobject_cast<QMainWindow *>(window)) {
            return window;
        }
    }
    return nullptr;
}
} // namespace

void ObjectiveC::SetMainWindow(QWidget *window)
{
    registeredWindow = window;
}

void ObjectiveC::HideWindow()
{
    applicationHidden = true;
    if (QWidget *window = TargetWindow()) {
        window->hide();
    }
}

void ObjectiveC::ShowWindow()
{
    applicationHidden = false;
    QWidget *window = TargetWindow();
    if (window && !window->isVisible()) {
        window->show();
    }
}

void ObjectiveC::ActivateWindow()
{
    QWidget *target = QApplication::activeModalWidget();
    if (!target) {
        target = TargetWindow();
    }
    if (!target || !target->isVisible()) {
        return;
    }
    target->raise();
    target->activateWindow();
}

bool ObjectiveC::IsHidden()
{
    if (!applicationHidden) {
        return false;
    }
    // Shown again by other means (a plain show()): no longer hidden.
    QWidget *window = TargetWindow();
    if (window && window->isVisible()) {
        applicationHidden = false;
    }
    return applicationHidden;
}

bool ObjectiveC::IsActive()
{
    return QApplication::activeWindow() != nullptr;
}

void ObjectiveC::setAutoStart(const QString &bundlePath, bool on)
{
    Q_UNUSED(bundlePath)
    Q_UNUSED(on)
}
