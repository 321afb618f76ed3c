#pragma once

#include <QVariant>

// Maps SQLite declared column types to Qt types by SQLite's affinity rules.
namespace SqlCipherTypes {

QVariant::Type TypeFromDeclaration(const char *declaredType);

}
