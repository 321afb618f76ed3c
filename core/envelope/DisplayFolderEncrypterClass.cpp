#include "envelope/DisplayFolderEncrypterClass.h"

quint64 DisplayFolderEncrypterClass::GetKeySeed() const
{
    // Changing this makes every stored folders file and the catalogue password unreadable.
    return Q_UINT64_C(0x7C3A91E5D2486BF1);
}
