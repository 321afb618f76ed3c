#include "cipher/SqlCipherTypes.h"

#include <QByteArray>

namespace SqlCipherTypes {

QVariant::Type TypeFromDeclaration(const char *declaredType)
{
    if (!declaredType)
        return QVariant::Invalid; // an expression: its type depends on each row
    const QByteArray type = QByteArray(declaredType).toUpper();
    if (type.contains("INT"))
        return QVariant::LongLong;
    if (type.contains("CHAR") || type.contains("CLOB") || type.contains("TEXT"))
        return QVariant::String;
    if (type.contains("BLOB") || type.isEmpty())
        return QVariant::ByteArray;
    return QVariant::Double;
}

} // namespace SqlCipherTypes
