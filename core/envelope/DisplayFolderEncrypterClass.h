#pragma once

#include "envelope/DefaultEncryptHelper.h"

// The program's one cipher key: the folders file and the catalogue password share it.
class DisplayFolderEncrypterClass : public DefaultEncryptHelper
{
public:
    quint64 GetKeySeed() const override;
};
