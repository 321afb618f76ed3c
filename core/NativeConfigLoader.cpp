#include "NativeConfigLoader.h"

#include "Const.h"
#include "Helper.h"
#include "NativeHelper.h"
#include "QReadLockerExt2.h"

#include <QDebug>
#include <QSettings>

namespace {

const int MinPageCount = 5;
const int MaxPageCount = 210;

NativeConfigLoader::WarningPrompt &writeDeniedPrompt()
{
    static NativeConfigLoader::WarningPrompt prompt;
    return prompt;
}

} // namespace

NativeConfigLoader::NativeConfigLoader()
    : filePath(Helper::GetLocalFilePath(fileName, Helper::FolderBase))
{
}

NativeConfigLoader::NativeConfigLoader(const QString &path) : filePath(path)
{
}

bool NativeConfigLoader::Load()
{
    QWriteLocker locker(&lock);
    if (filePath.isEmpty())
        return false;
    QSettings settings(filePath, QSettings::IniFormat);
    if (!settings.isWritable())
        return false;

    const NativeConfigSettings &d = defaultSettings;
    NativeConfigSettings &c = currentSettings;
    settings.beginGroup(groupName);
    const auto readBool = [&settings](const char *key, bool fallback) {
        return settings.value(QLatin1String(key), fallback).toBool();
    };
    const auto readInt = [&settings](const char *key, int fallback) {
        return settings.value(QLatin1String(key), fallback).toInt();
    };
    c.Start_AutoStart = readBool("Start_AutoStart", d.Start_AutoStart);
    c.Start_AutoMinimized = readBool("Start_AutoMinimized", d.Start_AutoMinimized);
    c.Start_AutoMaximized = readBool("Start_AutoMaximized", d.Start_AutoMaximized);
    c.App_Close_to_tray = readBool("App_Close_to_tray", d.App_Close_to_tray);
    c.App_Minimize_to_tray = readBool("App_Minimize_to_tray", d.App_Minimize_to_tray);
    c.Check_NewVersion = readBool("Check_NewVersion", d.Check_NewVersion);
    c.Check_NewDatabase = readBool("Check_NewDatabase", d.Check_NewDatabase);
    c.Check_NewDatabase_Minutes = readInt("Check_NewDatabase_Minutes", d.Check_NewDatabase_Minutes);
    c.Display_DefaultView = readInt("Display_DefaultView", d.Display_DefaultView);
    c.Display_CoversView_PageCount = readInt("Display_CoversView_PageCount", d.Display_CoversView_PageCount);
    c.Display_DetailsView_PageCount = readInt("Display_DetailsView_PageCount", d.Display_DetailsView_PageCount);
    c.Advance_UseDirectGoLink = readBool("Advance_UseDirectGoLink", d.Advance_UseDirectGoLink);
    settings.endGroup();

    // Corrected in memory only; the file keeps its values until the next save.
    c.Display_CoversView_PageCount = qBound(MinPageCount, c.Display_CoversView_PageCount, MaxPageCount);
    c.Display_DetailsView_PageCount = qBound(MinPageCount, c.Display_DetailsView_PageCount, MaxPageCount);
    if (c.Display_DefaultView != View_Details && c.Display_DefaultView != View_Covers)
        c.Display_DefaultView = d.Display_DefaultView;
    if (c.Check_NewDatabase_Minutes < 1)
        c.Check_NewDatabase_Minutes = d.Check_NewDatabase_Minutes;
    return true;
}

bool NativeConfigLoader::SaveToFile(const QReadLockerExt2 &token)
{
    token.CheckLock(&lock);
    QWriteLocker configLocker(NativeHelper::_configLocker);
    if (NativeHelper::IsClosing())
        return false;
    if (filePath.isEmpty())
        return false;
    QSettings settings(filePath, QSettings::IniFormat);
    if (!settings.isWritable())
        return false;

    const NativeConfigSettings &c = currentSettings;
    settings.beginGroup(groupName);
    settings.setValue(QStringLiteral("Start_AutoStart"), c.Start_AutoStart);
    settings.setValue(QStringLiteral("Start_AutoMinimized"), c.Start_AutoMinimized);
    settings.setValue(QStringLiteral("Start_AutoMaximized"), c.Start_AutoMaximized);
    settings.setValue(QStringLiteral("App_Close_to_tray"), c.App_Close_to_tray);
    settings.setValue(QStringLiteral("App_Minimize_to_tray"), c.App_Minimize_to_tray);
    settings.setValue(QStringLiteral("Check_NewVersion"), c.Check_NewVersion);
    settings.setValue(QStringLiteral("Check_NewDatabase"), c.Check_NewDatabase);
    settings.setValue(QStringLiteral("Check_NewDatabase_Minutes"), c.Check_NewDatabase_Minutes);
    settings.setValue(QStringLiteral("Display_DefaultView"), c.Display_DefaultView);
    settings.setValue(QStringLiteral("Display_CoversView_PageCount"), c.Display_CoversView_PageCount);
    settings.setValue(QStringLiteral("Display_DetailsView_PageCount"), c.Display_DetailsView_PageCount);
    settings.setValue(QStringLiteral("Advance_UseDirectGoLink"), c.Advance_UseDirectGoLink);
    settings.endGroup();
    // Written now, while _configLocker is still held, and checked.
    settings.sync();
    return settings.status() == QSettings::NoError;
}

NativeConfigSettings NativeConfigLoader::GetCurrentSettings() const
{
    QReadLocker locker(&lock);
    return currentSettings;
}

void NativeConfigLoader::SetWriteDeniedPrompt(const WarningPrompt &prompt)
{
    writeDeniedPrompt() = prompt;
}

void NativeConfigLoader::ShowWriteDeniedWarning(QWidget *parent)
{
    const QString text =
        Const::tr("You don't have permission to write the configuration file, do you want to get more information?");
    const WarningPrompt &prompt = writeDeniedPrompt();
    if (!prompt) {
        qWarning().noquote() << text;
        return;
    }
    if (prompt(parent, Const::tr("Info"), text)) {
        QString link = Const::HelpConfigFolderUrl;
        Helper::OpenLink(link);
    }
}
