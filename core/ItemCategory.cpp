#include "ItemCategory.h"

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
    // One arg call: a "%2" inside the caption must stay as it is.
    return QStringLiteral("%1 (%2 Book%3)")
        .arg(text, QString::number(bookCount), bookCount == 1 ? QString() : QStringLiteral("s"));
}
