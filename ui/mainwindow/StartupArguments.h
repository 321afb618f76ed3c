#pragma once

#include <QStringList>

// The command-line words the program understands.
class StartupArguments
{
public:
    StartupArguments() = delete;

    // "/background" starts hidden unless "/restart" is given too; both in any case.
    static bool IsStartHiddenRequested(const QStringList &arguments);
};
