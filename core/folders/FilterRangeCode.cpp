#include "folders/FilterRangeCode.h"

#include "folders/FolderQuery.h"

#include <QCoreApplication>

namespace {

struct RangeEntry
{
    qint64 code;
    const char *column;
    enum Kind { IsNull, Greater, GreaterEqual, Equal, Between, None } kind;
    int low;
    int high;
    const char *label;
};

// Size bounds are bytes: 500 x 1024, 1 MiB, 10 MiB, 50 MiB.
const RangeEntry kRanges[] = {
    {1000, "BookStars", RangeEntry::IsNull, 0, 0, QT_TRANSLATE_NOOP("AddFilterCreator", "unknown value")},
    {1001, "", RangeEntry::None, 0, 0, nullptr},
    {1002, "BookStars", RangeEntry::Between, 2, 3, QT_TRANSLATE_NOOP("AddFilterCreator", "2 - 3 Stars")},
    {1003, "BookStars", RangeEntry::Between, 3, 4, QT_TRANSLATE_NOOP("AddFilterCreator", "3 - 4 Stars")},
    {1004, "BookStars", RangeEntry::Between, 4, 5, QT_TRANSLATE_NOOP("AddFilterCreator", "4 - 5 Stars")},
    {1005, "BookStars", RangeEntry::GreaterEqual, 5, 0, QT_TRANSLATE_NOOP("AddFilterCreator", "5 Stars")},
    {2000, "OrgPrice", RangeEntry::IsNull, 0, 0, QT_TRANSLATE_NOOP("AddFilterCreator", "unknown value")},
    {2001, "OrgPrice", RangeEntry::Greater, 50, 0, QT_TRANSLATE_NOOP("AddFilterCreator", "More than $50")},
    {2002, "OrgPrice", RangeEntry::Equal, 0, 0, QT_TRANSLATE_NOOP("AddFilterCreator", "$0")},
    {2003, "OrgPrice", RangeEntry::Between, 0, 10, QT_TRANSLATE_NOOP("AddFilterCreator", "$0 - $10")},
    {2004, "OrgPrice", RangeEntry::Between, 10, 20, QT_TRANSLATE_NOOP("AddFilterCreator", "$10 - $20")},
    {2005, "OrgPrice", RangeEntry::Between, 20, 30, QT_TRANSLATE_NOOP("AddFilterCreator", "$20 - $30")},
    {2006, "OrgPrice", RangeEntry::Between, 30, 50, QT_TRANSLATE_NOOP("AddFilterCreator", "$30 - $50")},
    {3000, "BookPages", RangeEntry::IsNull, 0, 0, QT_TRANSLATE_NOOP("AddFilterCreator", "unknown value")},
    {3001, "BookPages", RangeEntry::Greater, 400, 0, QT_TRANSLATE_NOOP("AddFilterCreator", "More than 400")},
    {3002, "BookPages", RangeEntry::Between, 0, 10, QT_TRANSLATE_NOOP("AddFilterCreator", "1 - 10")},
    {3003, "BookPages", RangeEntry::Between, 10, 30, QT_TRANSLATE_NOOP("AddFilterCreator", "11 - 30")},
    {3004, "BookPages", RangeEntry::Between, 30, 50, QT_TRANSLATE_NOOP("AddFilterCreator", "31 - 50")},
    {3005, "BookPages", RangeEntry::Between, 50, 100, QT_TRANSLATE_NOOP("AddFilterCreator", "51 - 100")},
    {3006, "BookPages", RangeEntry::Between, 100, 200, QT_TRANSLATE_NOOP("AddFilterCreator", "101 - 200")},
    {3007, "BookPages", RangeEntry::Between, 200, 400, QT_TRANSLATE_NOOP("AddFilterCreator", "201 - 400")},
    {4000, "BookSize", RangeEntry::IsNull, 0, 0, QT_TRANSLATE_NOOP("AddFilterCreator", "unknown value")},
    {4001, "BookSize", RangeEntry::Greater, 52428800, 0, QT_TRANSLATE_NOOP("AddFilterCreator", "More than 50MB")},
    {4002, "BookSize", RangeEntry::Between, 0, 512000, QT_TRANSLATE_NOOP("AddFilterCreator", "< 500KB")},
    {4003, "BookSize", RangeEntry::Between, 512000, 1048576, QT_TRANSLATE_NOOP("AddFilterCreator", "500KB - 1MB")},
    {4004, "BookSize", RangeEntry::Between, 1048576, 10485760, QT_TRANSLATE_NOOP("AddFilterCreator", "1MB - 10MB")},
    {4005, "BookSize", RangeEntry::Between, 10485760, 52428800, QT_TRANSLATE_NOOP("AddFilterCreator", "10MB - 50MB")},
};

const RangeEntry *FindRange(qint64 code)
{
    for (const RangeEntry &entry : kRanges) {
        if (entry.code == code)
            return &entry;
    }
    return nullptr;
}

} // namespace

namespace FilterRangeCode {

QString Condition(qint64 code)
{
    const RangeEntry *entry = FindRange(code);
    if (!entry)
        return QString();
    const QString column = QString::fromLatin1(entry->column);
    switch (entry->kind) {
    case RangeEntry::IsNull:
        return column + QStringLiteral(" is null");
    case RangeEntry::Greater:
        return SqlGreaterCondition(column, QVariant(entry->low));
    case RangeEntry::GreaterEqual:
        return SqlGreaterEqualCondition(column, QVariant(entry->low));
    case RangeEntry::Equal:
        return SqlEqualCondition(column, QVariant(entry->low));
    case RangeEntry::Between:
        return SqlBetweenCondition(column, QVariant(entry->low), QVariant(entry->high));
    case RangeEntry::None:
        break;
    }
    return QString();
}

QString Column(qint64 code)
{
    const RangeEntry *entry = FindRange(code);
    return entry ? QString::fromLatin1(entry->column) : QString();
}

QString Label(qint64 code)
{
    const RangeEntry *entry = FindRange(code);
    if (!entry || !entry->label)
        return QString();
    return QCoreApplication::translate("AddFilterCreator", entry->label);
}

QList<qint64> OfferedCodes(Group group)
{
    QList<qint64> codes;
    for (const RangeEntry &entry : kRanges) {
        if (entry.code / 1000 == group && entry.label)
            codes.append(entry.code);
    }
    return codes;
}

} // namespace FilterRangeCode
