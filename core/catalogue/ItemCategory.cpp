#include "catalogue/ItemCategory.h"

#include "Formatters.h"

bool ItemCategory::LoadFromRecord(const DatabaseRow &row)
{
    uid = row.value(QStringLiteral("UID")).toLongLong();
    lid = row.value(QStringLiteral("LID")).toLongLong();
    bookCount = row.value(QStringLiteral("Calc_BookCount")).toLongLong();
    caption = row.value(QStringLiteral("Caption")).toString();
    displayCaption = MakeCategoryCaption(true);
    return uid >= 1 && !caption.isEmpty();
}

QString ItemCategory::MakeCategoryCaption(bool escape) const
{
    QString text = caption;
    if (escape)
        text.replace(QLatin1Char('&'), QStringLiteral("&&"));
    return FormatNameWithBookCount(text, bookCount);
}
