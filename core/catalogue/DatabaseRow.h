#pragma once

#include <QHash>
#include <QString>
#include <QVariant>

// One catalogue row: column name -> value.
using DatabaseRow = QHash<QString, QVariant>;
