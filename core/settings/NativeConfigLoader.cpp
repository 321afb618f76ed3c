#include "settings/NativeConfigLoader.h"

#include "Const.h"
#include "Helper.h"
#include "threads/NativeHelper.h"
#include "threads/QReadLockerExt2.h"

#include <QDebug>
#include <QFile>
#include <QSettings>

#include <sys/stat.h>

namespace {

// Every setting with its key in the file; each is either a flag or a number.
struct SettingKey
{
    const char *key;
    bool NativeConfigSettings::*flag;
    int NativeConfigSettings::*number;
};

const SettingKey kSettingKeys[] = {
    {"Start_AutoStart", &NativeConfigSettings::Start_AutoStart, nullptr},
    {"Start_AutoMinimized", &NativeConfigSettings::Start_AutoMinimized, nullptr},
    {"Start_AutoMaximized", &NativeConfigSettings::Start_AutoMaximized, nullptr},
    {"App_Close_to_tray", &NativeConfigSettings::App_Close_to_tray, nullptr},
    {"App_Minimize_to_tray", &NativeConfigSettings::App_Minimize_to_tray, nullptr},
    {"Check_NewVersion", &NativeConfigSettings::Check_NewVersion, nullptr},
    {"Check_NewDatabase", &NativeConfigSettings::Check_NewDatabase, nullptr},
    {"Check_NewDatabase_Minutes", nullptr, &NativeConfigSettings::Check_NewDatabase_Minutes},
    {"Display_DefaultView", nullptr, &NativeConfigSettings::Display_DefaultView},
    {"Display_CoversView_PageCount", nullptr, &NativeConfigSettings::Display_CoversView_PageCount},
    {"Display_DetailsView_PageCount", nullptr, &NativeConfigSettings::Display_DetailsView_PageCount},
    {"Advance_UseDirectGoLink", &NativeConfigSettings::Advance_UseDirectGoLink, nullptr},
};

// Which file stands at a path: a replaced file has another inode.
struct FileIdentity
{
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;

    static FileIdentity Of(const QString &path)
    {
        FileIdentity identity;
        struct stat info;
        if (::stat(QFile::encodeName(path).constData(), &info) == 0) {
            identity.exists = true;
            identity.device = info.st_dev;
            identity.inode = info.st_ino;
        }
        return identity;
    }

    bool IsOtherThan(const FileIdentity &old) const
    {
        return exists && (!old.exists || device != old.device || inode != old.inode);
    }
};

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
    for (const SettingKey &setting : kSettingKeys) {
        const QString key = QLatin1String(setting.key);
        if (setting.flag)
            c.*setting.flag = settings.value(key, d.*setting.flag).toBool();
        else
            c.*setting.number = settings.value(key, d.*setting.number).toInt();
    }
    settings.endGroup();

    // Corrected in memory only; the file keeps its values until the next save.
    c.Display_CoversView_PageCount = ClampPageCount(c.Display_CoversView_PageCount);
    c.Display_DetailsView_PageCount = ClampPageCount(c.Display_DetailsView_PageCount);
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
    for (const SettingKey &setting : kSettingKeys) {
        const QString key = QLatin1String(setting.key);
        if (setting.flag)
            settings.setValue(key, c.*setting.flag);
        else
            settings.setValue(key, c.*setting.number);
    }
    settings.endGroup();
    // Written now, while _configLocker is still held, and checked.
    const FileIdentity before = FileIdentity::Of(filePath);
    settings.sync();
    if (settings.status() == QSettings::NoError)
        return true;
    // A format error of the read stays in status() and hides the write's own outcome. The
    // write goes to a new file renamed over the old one: a new file there means it succeeded.
    return settings.status() == QSettings::FormatError && FileIdentity::Of(filePath).IsOtherThan(before);
}

NativeConfigSettings NativeConfigLoader::GetCurrentSettings() const
{
    QReadLocker locker(&lock);
    return currentSettings;
}

int NativeConfigLoader::ClampPageCount(int count)
{
    return qBound(5, count, 210);
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
