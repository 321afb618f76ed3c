#pragma once

// Small encrypted catalogues with hand-picked rows for the folder computation tests.

#include "folders/FolderQuery.h"
#include "Helper.h"
#include "writer/CatalogueGenerator.h"
#include "cipher/SqlCipherDriverRegistration.h"

#include <QList>
#include <QMap>
#include <QString>
#include <QVariant>

// A row of the book table; an invalid QVariant is stored as NULL.
struct TestCatalogueBook
{
    qint64 uid = 0;
    QString name;
    QString author;
    QString catalogIds;
    QVariant stars;
    QVariant orgPrice;
    QVariant pages;
    QVariant size;
    qint64 firstPubTime = 0;
    QString intro;
};

// Writes the catalogue, encrypted with the program's catalogue password, to outPath. Without the
// caption column every category-caption query fails.
inline bool MakeTestCatalogue(const QString &outPath, const QString &guid, const QList<TestCatalogueBook> &books,
                              const QMap<qint64, QString> &categories = {}, bool withCaptionColumn = true)
{
    RegisterSqlCipherDriver();
    CatalogueGeneratorOptions options;
    options.books = 0;
    options.categories = 0;
    options.password = Helper::GetCatalogPassword().toUtf8();
    options.guid = guid;
    const auto sqlValue = [](const QVariant &value) {
        return value.isNull() ? QStringLiteral("NULL") : SqlLiteral(value);
    };
    for (const TestCatalogueBook &book : books) {
        const QStringList values = {
            QString::number(book.uid), sqlValue(book.name), sqlValue(book.author),
            sqlValue(book.catalogIds), sqlValue(book.stars), sqlValue(book.orgPrice),
            sqlValue(book.pages), sqlValue(book.size), QString::number(book.firstPubTime),
            sqlValue(book.intro)};
        options.extraSql << QStringLiteral("insert into published_bookinfo(UID, BookName, BookAuthor, BookCatalogIDS, "
                                           "BookStars, OrgPrice, BookPages, BookSize, FirstPubTimeGMT, IntroLong) "
                                           "values(%1)")
                                .arg(values.join(QLatin1Char(',')));
    }
    for (auto category = categories.cbegin(); category != categories.cend(); ++category)
        options.extraSql << QStringLiteral("insert into runtime_cataloginfo(UID, LID, Calc_BookCount, Caption) "
                                           "values(%1, %1, 0, %2)")
                                .arg(QString::number(category.key()), sqlValue(category.value()));
    if (!withCaptionColumn)
        options.extraSql << QStringLiteral("alter table runtime_cataloginfo rename column Caption to Title");
    QString error;
    const bool ok = CatalogueGenerator::Generate(options, outPath, nullptr, &error);
    if (!ok)
        qWarning("%s", qPrintable(error));
    return ok;
}
