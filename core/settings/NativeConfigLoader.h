#pragma once

#include "settings/NativeConfigSettings.h"

#include <QReadWriteLock>
#include <QString>

#include <functional>

class QReadLockerExt2;
class QWidget;

// The settings file "native-config.file" in the base data folder: read once at start-up,
// written when the user accepts the settings dialog.
// Readers read currentSettings while holding lock for reading; changes hold it for writing.
class NativeConfigLoader
{
public:
    // The file in the base data folder (an empty path when that folder is unknown).
    NativeConfigLoader();
    // The file at the given path.
    explicit NativeConfigLoader(const QString &path);

    NativeConfigLoader(const NativeConfigLoader &) = delete;
    NativeConfigLoader &operator=(const NativeConfigLoader &) = delete;

    // Reads the file into currentSettings and corrects out-of-range values in memory.
    // False (settings unchanged) when the path is empty or the file is not writable.
    bool Load();
    // Writes currentSettings; token must hold lock. False when the program is closing, the file
    // is not writable or the write failed. Holds NativeHelper::_configLocker for writing.
    bool SaveToFile(const QReadLockerExt2 &token);
    // A copy of currentSettings taken under lock (read).
    NativeConfigSettings GetCurrentSettings() const;

    // Asks the user, over parent, the question with OK and Cancel; true for OK.
    // Installed by the user interface at start (core has no widgets).
    using WarningPrompt = std::function<bool(QWidget *parent, const QString &title, const QString &text)>;
    static void SetWriteDeniedPrompt(const WarningPrompt &prompt);
    // Books per page, bounded to 5..210: the stored settings and every page load use it.
    static int ClampPageCount(int count);
    // Tells the user that the settings file could not be written; OK opens the help page.
    // Call it without holding any lock: the prompt runs an event loop.
    static void ShowWriteDeniedWarning(QWidget *parent);

    const QString fileName = QStringLiteral("native-config.file");
    const QString groupName = QStringLiteral("NativeConfig");
    mutable QReadWriteLock lock;
    const QString filePath;
    NativeConfigSettings currentSettings;
    const NativeConfigSettings defaultSettings;
};
