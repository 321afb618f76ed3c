#pragma once

#include <QApplication>
#include <QPointer>

class SingleInstanceGuard;

// Application object that knows whether another instance of the program runs for the same
// user and data folder, and passes text messages from later starts to the first one.
// Set the organisation and application names before constructing it: they choose the folder.
class QtSingleApplication : public QApplication
{
    Q_OBJECT

public:
    QtSingleApplication(int &argc, char **argv, bool GUIenabled = true);
    ~QtSingleApplication() override;

    // True when another instance was first; this one then only sends messages. False as well
    // when no instance can be reached at all.
    bool isRunning() const;
    QString id() const;
    // Sends the message to the first instance; false when none confirmed it within timeout ms.
    bool sendMessage(const QString &message, int timeout = 5000);

    void setActivationWindow(QWidget *window, bool activateOnMessage = true);
    QWidget *activationWindow() const;

public slots:
    // Restores, raises and activates the activation window (a hidden window stays hidden).
    void activateWindow();

signals:
    void messageReceived(const QString &message);

private:
    SingleInstanceGuard *guard = nullptr;
    QPointer<QWidget> window;
    QMetaObject::Connection activation;
};
