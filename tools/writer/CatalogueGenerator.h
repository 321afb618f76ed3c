#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Builds synthetic catalogues for tests, benchmarks and the demo, in-process.
//
// Usage (tests):
//     CatalogueGeneratorOptions options;
//     options.books = 500;                 // rows of "published_bookinfo", UIDs 1..books
//     options.password = "secret";         // required for Generate (encrypted output)
//     options.nowUtc = 1764892800;         // fixed clock for reproducible dates (0 = now)
//     options.extraSql << "update published_bookinfo set BookPages = 401 where UID = 7";
//     CatalogueGeneratorResult result;
//     QString error;
//     bool ok = CatalogueGenerator::Generate(options, path, &result, &error);
//
// Tables and columns (SQLite types):
//   published_bookinfo(UID INTEGER PRIMARY KEY, LID INTEGER, BookName TEXT, OrgPrice REAL,
//     BookPrice REAL, BookCatalog TEXT, BookCatalogIDS TEXT ("|12|40|"), BookAuthor TEXT,
//     BookDate INTEGER (seconds UTC), BookPages INTEGER, BookSize INTEGER (bytes),
//     BookStars REAL, BookStarsCount INTEGER, GoLink TEXT, _TransLink TEXT, IntroLong TEXT,
//     FirstPubTimeGMT INTEGER (seconds UTC, spread over the 60 days before nowUtc),
//     LocalCompField INTEGER, _CheckTimeGMT INTEGER, _ImageCompID INTEGER)
//   runtime_cataloginfo(UID INTEGER PRIMARY KEY, LID INTEGER, Calc_BookCount INTEGER, Caption TEXT)
//     UIDs 1..categories; Calc_BookCount is the real number of books carrying the token.
//   native_loadrecall(pname TEXT PRIMARY KEY, pvalue): "current_guid", "free_ebooks_count"
//     (text), "current_ebooks_count" (integer), "free_ebooks_week_new" (text: books of the
//     last 7 days), "free_ebooks_week_revoked" (text), "current_time_utc" (integer = nowUtc).
//
// The rows depend only on the seed, the counts and nowUtc; the guid is fresh per call
// unless options.guid is set. Nulls (OrgPrice, BookPages, BookSize, BookStars) and range
// edge values (pages 0/10/200/201/400/401, sizes 512000/512001/1048576/52428800/52428801,
// stars 4.8 and 5, price 0 and 50) are mixed in. Category captions include "&" and a
// quote; some names and authors are non-ASCII or contain a single quote.
// extraSql statements run after the tables are filled (and before Calc_BookCount and the
// summary counts are computed, so edited rows are counted); with books = 0 they can build
// a catalogue row by row. 100,000 books take a few seconds.
struct CatalogueGeneratorOptions
{
    int books = 1000;
    int categories = 40;
    quint64 seed = 1;
    QByteArray password;
    int pageSize = 4096;
    qint64 nowUtc = 0;
    QString guid;
    QStringList extraSql;
    // Leave the summary table out entirely (tests of missing summary values).
    bool withoutLoadRecall = false;
};

struct CatalogueGeneratorResult
{
    QString guid;
    qint64 books = 0;
    qint64 categories = 0;
    qint64 weekNew = 0;
    qint64 nowUtc = 0;
};

class CatalogueGenerator
{
public:
    CatalogueGenerator() = delete;

    // Encrypted catalogue (needs options.password), written atomically.
    static bool Generate(const CatalogueGeneratorOptions &options, const QString &outPath,
                         CatalogueGeneratorResult *result = nullptr, QString *error = nullptr);

    // The same content as a plain SQLite file (32 reserve bytes, rollback journal), for
    // comparisons and for CatalogueEncrypter::EncryptFile.
    static bool GeneratePlain(const CatalogueGeneratorOptions &options, const QString &outPath,
                              CatalogueGeneratorResult *result = nullptr, QString *error = nullptr);
};
