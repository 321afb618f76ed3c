#include "mainwindow/StartupArguments.h"

#include "Const.h"

bool StartupArguments::IsStartHiddenRequested(const QStringList &arguments)
{
    return arguments.contains(Const::ArgBackground, Qt::CaseInsensitive)
        && !arguments.contains(Const::ArgRestart, Qt::CaseInsensitive);
}
