#include "platform/QtSingleApplication.h"

#include "platform/SingleInstanceGuard.h"

#include <QStandardPaths>
#include <QWidget>

QtSingleApplication::QtSingleApplication(int &argc, char **argv, bool GUIenabled)
    : QApplication(argc, argv, GUIenabled)
{
    const QString dataFolder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    guard = new SingleInstanceGuard(SingleInstanceGuard::KeyForDataFolder(dataFolder), this);
    connect(guard, &SingleInstanceGuard::messageReceived, this, &QtSingleApplication::messageReceived);
    if (guard->Claim()) {
        guard->Listen();
    }
}

QtSingleApplication::~QtSingleApplication() = default;

bool QtSingleApplication::isRunning() const
{
    // Without a folder for the lock and the socket nobody could be reached: run alone rather
    // than refuse every start; the program's own lock file keeps a second start out.
    return !guard->IsPrimary() && !guard->IsUnusable();
}

QString QtSingleApplication::id() const
{
    return guard->serverName();
}

bool QtSingleApplication::sendMessage(const QString &message, int timeout)
{
    if (!isRunning()) {
        return false;
    }
    return guard->SendMessage(message, timeout);
}

void QtSingleApplication::setActivationWindow(QWidget *aw, bool activateOnMessage)
{
    window = aw;
    disconnect(activation);
    if (activateOnMessage) {
        activation = connect(this, &QtSingleApplication::messageReceived, this, &QtSingleApplication::activateWindow);
    }
}

QWidget *QtSingleApplication::activationWindow() const
{
    return window.data();
}

void QtSingleApplication::activateWindow()
{
    if (!window || !window->isVisible()) {
        return;
    }
    window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->raise();
    window->activateWindow();
}
