#include "platform/NativeApplication.h"

#include "platform/UnixSignalRelay.h"

#include <QSessionManager>

NativeApplication::NativeApplication(int &argc, char **argv)
    : QtSingleApplication(argc, argv, true)
{
    setupDockClickHandler();
    setupTerminateHandler();
    connect(this, &QCoreApplication::aboutToQuit, this, &NativeApplication::EmitCallStopWindow);
}

NativeApplication::~NativeApplication()
{
    // Back to the default handlers before the objects a handler might reach are gone.
    delete signalRelay;
    signalRelay = nullptr;
}

void NativeApplication::EmitCallStopWindow()
{
    emit OnCallStopWindow();
}

void NativeApplication::setupDockClickHandler()
{
}

void NativeApplication::setupTerminateHandler()
{
    if (signalRelay) {
        return;
    }
    signalRelay = new UnixSignalRelay(this);
    connect(signalRelay, &UnixSignalRelay::terminateRequested, this, &NativeApplication::EmitCallStopWindow);
    // Log-out: with Qt's fallback session management off, nothing closes windows behind our back.
    connect(this, &QGuiApplication::commitDataRequest, this, [this](QSessionManager &) { EmitCallStopWindow(); });
}
