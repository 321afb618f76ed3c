#pragma once

// Small encrypted catalogues with hand-picked rows for the folder computation tests.

#include "folders/FolderQuery.h"
#include "Helper.h"
#include "writer/CatalogueGenerator.h"
#include "cipher/SqlCipherDriverRegistration.h"

#include <QList>
#include <QPair>
#include <QString>
#include <QVariant>

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

struct TestCatalogue
{
    QString guid;
    QList<TestCatalogueBook> books;
    QList<QPair<qint64, QString>> categories;
    // Without it, every category-caption query fails.
    bool withCaptionColumn = true;
};

inline QString TestSqlValue(const QVariant &value)
{
    return value.isValid() && !value.isNull() ? SqlLiteral(value) : QStringLiteral("NULL");
}

// Writes the catalogue, encrypted with the program's catalogue password, to outPath.
inline bool MakeTestCatalogue(const TestCatalogue &catalogue, const QString &outPath)
{
    RegisterSqlCipherDriver();
    CatalogueGeneratorOptions options;
    options.books = 0;
    options.categories = 0;
    options.password = Helper::GetCatalogPassword().toUtf8();
    options.guid = catalogue.guid;
    for (const TestCatalogueBook &book : catalogue.books) {
        const QStringList values = {
            QString::number(book.uid), TestSqlValue(book.name), TestSqlValue(book.author),
            TestSqlValue(book.catalogIds), TestSqlValue(book.stars), TestSqlValue(book.orgPrice),
            TestSqlValue(book.pages), TestSqlValue(book.size), QString::number(book.firstPubTime),
            TestSqlValue(book.intro)};
        options.extraSql << QStringLiteral("insert into published_bookinfo(UID, BookName, BookAuthor, BookCatalogIDS, "
                                           "BookStars, OrgPrice, BookPages, BookSize, FirstPubTimeGMT, IntroLong) "
                                           "values(%1)")
                                .arg(values.join(QLatin1Char(',')));
    }
    for (const auto &category : catalogue.categories)
        options.extraSql << QStringLiteral("insert into runtime_cataloginfo(UID, LID, Calc_BookCount, Caption) "
                                           "values(%1, %1, 0, %2)")
                                .arg(QString::number(category.first), TestSqlValue(category.second));
    if (!catalogue.withCaptionColumn)
        options.extraSql << QStringLiteral("alter table runtime_cataloginfo rename column Caption to Title");
    QString error;
    const bool ok = CatalogueGenerator::Generate(options, outPath, nullptr, &error);
    if (!ok)
        qWarning("%s", qPrintable(error));
    return ok;
}
