#pragma once

#include "platform/QtSingleApplication.h"

class UnixSignalRelay;

// The program's application object. Every way the desktop asks the program to end
// (termination signals, the session's log-out request, the loop about to quit) arrives
// as OnCallStopWindow, which the main window routes into its one close path.
class NativeApplication : public QtSingleApplication
{
    Q_OBJECT

public:
    NativeApplication(int &argc, char **argv);
    ~NativeApplication() override;

    void EmitCallStopWindow();

    // A click on the program's dock icon: this desktop has no such hook, so nothing is installed.
    void setupDockClickHandler();
    // SIGTERM, SIGINT, SIGHUP and the session manager's commit request feed OnCallStopWindow.
    void setupTerminateHandler();

signals:
    void OnCallActivateWindow();
    void OnCallStopWindow();

private:
    UnixSignalRelay *signalRelay = nullptr;
};
