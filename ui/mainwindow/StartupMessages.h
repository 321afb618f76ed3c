#pragma once

// The two boxes that can end the start-up; both offer the matching help page.
class StartupMessages
{
public:
    StartupMessages() = delete;

    // Another process holds the instance lock file.
    static void ShowSingleInstanceMessage();
    // The base data folder is unknown, missing, not a folder or not writable.
    static void ShowLocalFolderMessage();
};
