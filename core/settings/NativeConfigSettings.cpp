#include "settings/NativeConfigSettings.h"

bool NativeConfigSettings::operator==(const NativeConfigSettings &other) const
{
    return Start_AutoStart == other.Start_AutoStart && Start_AutoMinimized == other.Start_AutoMinimized
           && Start_AutoMaximized == other.Start_AutoMaximized && App_Close_to_tray == other.App_Close_to_tray
           && App_Minimize_to_tray == other.App_Minimize_to_tray && Check_NewVersion == other.Check_NewVersion
           && Check_NewDatabase == other.Check_NewDatabase
           && Check_NewDatabase_Minutes == other.Check_NewDatabase_Minutes
           && Display_DefaultView == other.Display_DefaultView
           && Display_CoversView_PageCount == other.Display_CoversView_PageCount
           && Display_DetailsView_PageCount == other.Display_DetailsView_PageCount
           && Advance_UseDirectGoLink == other.Advance_UseDirectGoLink;
}
