#pragma once

#include <QString>
#include <QStringList>

// The rotating local catalogue files in the database folder: slot files 0..9 named
// "single_us_<file number>_3011_<slot>.rfile", and the slot pointer "<slot-0 name>.prefile"
// holding the slot number of the last downloaded catalogue as decimal text.
class CatalogueSlots
{
public:
    CatalogueSlots() = delete;

    static const int SlotCount = 10;
    // The catalogue file number in every slot file name.
    static const int CatalogueFileNumber = 1;

    // "single_us_1_3011_<slot>.rfile".
    static QString MakeCatalogueFileBaseName(int slot);
    // Full path of that slot file in the database folder; empty when the folder is unknown.
    static QString MakeCatalogueFileName(int slot);
    // Full path of the slot pointer file.
    static QString MakePreFilePath();

    // Writes the slot pointer atomically and reads it back. False on any failure.
    static bool WritePreFile(int slot);

    // The slot file to load or download into. First the slot a non-empty pointer names, when its
    // file is usable (needDownload false). Else PickFreeSlot (needDownload true). Empty: no slot free.
    static QString PickCatalogFile(const QStringList &inUse, int &slot, bool &needDownload);
    // The first slot 0..9 not named in inUse (compared without regard to case) whose file is
    // missing or could be deleted; only the returned slot's old file is deleted. Empty: none.
    static QString PickFreeSlot(const QStringList &inUse, int &slot);
};
