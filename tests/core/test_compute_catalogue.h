#pragma once

// Small encrypted catalogues with hand-picked rows for the folder computation tests.

#include "Helper.h"
#include "cipher/CatalogueEncrypter.h"
#include "cipher/SqlCipherDriverRegistration.h"

#include <QFile>
#include <QList>
#include <QPair>
#include <QString>
#include <QVariant>

#include <sqlite3.h>

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
    // Without it, every category query fails.
    bool withCategoryTable = true;
};

namespace TestCatalogueDetail {

inline bool Exec(sqlite3 *db, const char *sql)
{
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

inline void Bind(sqlite3_stmt *stmt, int index, const QVariant &value)
{
    if (!value.isValid() || value.isNull()) {
        sqlite3_bind_null(stmt, index);
    } else if (value.type() == QVariant::String) {
        const QByteArray text = value.toString().toUtf8();
        sqlite3_bind_text(stmt, index, text.constData(), text.size(), SQLITE_TRANSIENT);
    } else if (value.type() == QVariant::Double) {
        sqlite3_bind_double(stmt, index, value.toDouble());
    } else {
        sqlite3_bind_int64(stmt, index, value.toLongLong());
    }
}

inline bool Insert(sqlite3 *db, const char *sql, const QVariantList &values)
{
    sqlite3_stmt *stmt = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) != SQLITE_OK)
        return false;
    for (int i = 0; i < values.size(); ++i)
        Bind(stmt, i + 1, values.at(i));
    const bool ok = sqlite3_step(stmt) == SQLITE_DONE;
    sqlite3_finalize(stmt);
    return ok;
}

} // namespace TestCatalogueDetail

// Writes the catalogue encrypted with the program's catalogue password to outPath.
inline bool MakeTestCatalogue(const TestCatalogue &catalogue, const QString &outPath)
{
    using namespace TestCatalogueDetail;
    RegisterSqlCipherDriver();
    const QString plainPath = outPath + QStringLiteral(".plain");
    QFile::remove(plainPath);
    sqlite3 *db = nullptr;
    if (sqlite3_open(QFile::encodeName(plainPath).constData(), &db) != SQLITE_OK)
        return false;
    bool ok = CatalogueEncrypter::PrepareEmptyDatabase(db, 4096)
        && Exec(db, "CREATE TABLE published_bookinfo(UID INTEGER PRIMARY KEY, LID INTEGER, BookName TEXT, "
                    "OrgPrice REAL, BookPrice REAL, BookCatalog TEXT, BookCatalogIDS TEXT, BookAuthor TEXT, "
                    "BookDate INTEGER, BookPages INTEGER, BookSize INTEGER, BookStars REAL, BookStarsCount INTEGER, "
                    "GoLink TEXT, _TransLink TEXT, IntroLong TEXT, FirstPubTimeGMT INTEGER, LocalCompField INTEGER, "
                    "_CheckTimeGMT INTEGER, _ImageCompID INTEGER)")
        && Exec(db, "CREATE TABLE native_loadrecall(pname TEXT, pvalue)") && Exec(db, "BEGIN");
    if (ok && catalogue.withCategoryTable)
        ok = Exec(db, "CREATE TABLE runtime_cataloginfo(UID INTEGER, LID INTEGER, Calc_BookCount INTEGER, Caption TEXT)");
    ok = ok && Insert(db, "INSERT INTO native_loadrecall VALUES('current_guid', ?)", {catalogue.guid})
        && Insert(db, "INSERT INTO native_loadrecall VALUES('current_ebooks_count', ?)",
                  {qint64(catalogue.books.size())});
    for (const TestCatalogueBook &book : catalogue.books) {
        if (!ok)
            break;
        ok = Insert(db,
                    "INSERT INTO published_bookinfo(UID, LID, BookName, OrgPrice, BookCatalogIDS, BookAuthor, "
                    "BookPages, BookSize, BookStars, IntroLong, FirstPubTimeGMT, _ImageCompID) "
                    "VALUES(?,?,?,?,?,?,?,?,?,?,?,?)",
                    {book.uid, book.uid, book.name, book.orgPrice, book.catalogIds, book.author, book.pages,
                     book.size, book.stars, book.intro, book.firstPubTime, book.uid});
    }
    for (const auto &category : catalogue.categories) {
        if (!ok || !catalogue.withCategoryTable)
            break;
        ok = Insert(db, "INSERT INTO runtime_cataloginfo VALUES(?,?,?,?)",
                    {category.first, category.first, qint64(10), category.second});
    }
    ok = ok && Exec(db, "COMMIT");
    sqlite3_close(db);
    ok = ok && CatalogueEncrypter::EncryptFile(plainPath, outPath, Helper::GetCatalogPassword().toUtf8());
    QFile::remove(plainPath);
    return ok;
}
