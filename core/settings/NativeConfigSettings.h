#pragma once

#include "settings/NativeConfigDefaultView.h"

// One block of the twelve user settings; the initial values are the defaults.
// Field names are the keys of the settings file.
struct NativeConfigSettings
{
    bool Start_AutoStart = false;
    bool Start_AutoMinimized = true;
    bool Start_AutoMaximized = true;
    bool App_Close_to_tray = false;
    bool App_Minimize_to_tray = false;
    bool Check_NewVersion = true;
    bool Check_NewDatabase = true;
    int Check_NewDatabase_Minutes = 120;
    int Display_DefaultView = View_Covers;
    int Display_CoversView_PageCount = 100;
    int Display_DetailsView_PageCount = 100;
    bool Advance_UseDirectGoLink = true;

    bool operator==(const NativeConfigSettings &other) const;
    bool operator!=(const NativeConfigSettings &other) const { return !(*this == other); }
};
