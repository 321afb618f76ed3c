#include "CatalogueSlots.h"

#include "CatalogueFiles.h"
#include "Const.h"
#include "Helper.h"

#include <QFile>

#include <algorithm>

QString CatalogueSlots::MakeCatalogueFileBaseName(int slot)
{
    return QStringLiteral("single_%1_%2_%3_%4%5")
        .arg(QStringLiteral("us"), QString::number(CatalogueFileNumber), QString::number(3011),
             QString::number(slot), Const::RFileSuffix);
}

QString CatalogueSlots::MakeCatalogueFileName(int slot)
{
    return Helper::GetLocalFilePath(MakeCatalogueFileBaseName(slot), Helper::FolderDatabase);
}

QString CatalogueSlots::MakePreFilePath()
{
    return Helper::GetLocalFilePath(MakeCatalogueFileBaseName(0) + Const::PreFileSuffix, Helper::FolderDatabase);
}

namespace {

// The slot the pointer text names: its number when it reads as 0..10, else 0.
int SlotFromPointerText(const QString &text)
{
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    // 10 is accepted although the search never produces it: such a pointer names a missing slot.
    return ok && value >= 0 && value <= CatalogueSlots::SlotCount ? value : 0;
}

} // namespace

bool CatalogueSlots::WritePreFile(int slot)
{
    const QString path = MakePreFilePath();
    const QString text = QString::number(slot);
    if (path.isEmpty() || !WriteTextFile(path, text))
        return false;
    return ReadTextFile(path) == text;
}

QString CatalogueSlots::PickCatalogFile(const QStringList &inUse, int &slot, bool &needDownload)
{
    slot = 0;
    needDownload = true;
    // Without a pointer there is no catalogue to reuse: the search starts afresh.
    const QString pointer = ReadTextFile(MakePreFilePath());
    if (pointer.isEmpty())
        return PickFreeSlot(inUse, slot);
    const int named = SlotFromPointerText(pointer);
    const QString namedPath = MakeCatalogueFileName(named);
    if (IsFileUsable(namedPath)) {
        slot = named;
        needDownload = false;
        return namedPath;
    }
    return PickFreeSlot(inUse, slot);
}

QString CatalogueSlots::PickFreeSlot(const QStringList &inUse, int &slot)
{
    for (int candidate = 0; candidate < SlotCount; ++candidate) {
        const QString path = MakeCatalogueFileName(candidate);
        if (path.isEmpty())
            return QString();
        if (std::any_of(inUse.cbegin(), inUse.cend(),
                        [&path](const QString &entry) { return IsSameFilePath(entry, path); }))
            continue;
        if (QFile::exists(path))
            QFile::remove(path);
        if (!QFile::exists(path)) {
            RemoveSidecarFiles(path);
            slot = candidate;
            return path;
        }
    }
    return QString();
}
