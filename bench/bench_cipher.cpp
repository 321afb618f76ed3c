// Encrypted catalogue read cost: the SQLITECIPHER driver over the decrypting file layer
// against the same data in a plain SQLite file read through the sqlite3 C API.
//
// Two queries on a 100,000-book catalogue: a full-scan LIKE on the description and a cheap
// full scan. "Cold" opens a fresh connection for every run (SQLite's page cache empty, the
// file in the OS cache, so every page is decrypted again); "warm" repeats the query on one
// connection with a large cache.
// Prints the fastest of several interleaved runs and the encrypted/plain ratios
// (targets: cold <= 1.3x, warm <= 1.05x).
//
//   bench_cipher [BOOKS]
#include "writer/CatalogueEncrypter.h"
#include "writer/CatalogueGenerator.h"
#include "cipher/SqlCipherDriverRegistration.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QVariant>

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

const QByteArray kPassword = "bench-password";
constexpr int kRuns = 11;

struct QueryCase
{
    const char *name;
    const char *sql;
};

const QueryCase kQueries[] = {
    {"LIKE on IntroLong", "select UID from published_bookinfo where IntroLong like '%northern sky%' and IntroLong like '%Perfect%'"},
    {"cheap full scan", "select sum(length(BookName)) + sum(BookPages) from published_bookinfo"},
};

// The fastest run: the least disturbed by other work on the machine.
double Fastest(const std::vector<double> &values)
{
    return *std::min_element(values.begin(), values.end());
}

double TimeMs(const std::function<qint64()> &work, qint64 *rows)
{
    QElapsedTimer timer;
    timer.start();
    *rows = work();
    return double(timer.nsecsElapsed()) / 1e6;
}

// ---- plain file through the C API ----

qint64 PlainQuery(sqlite3 *db, const char *sql)
{
    sqlite3_stmt *stmt = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) != SQLITE_OK)
        return -1;
    qint64 rows = 0;
    while (sqlite3_step(stmt) == SQLITE_ROW) {
        sqlite3_column_int64(stmt, 0);
        ++rows;
    }
    sqlite3_finalize(stmt);
    return rows;
}

sqlite3 *PlainOpen(const QString &path, bool bigCache)
{
    sqlite3 *db = nullptr;
    sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_FULLMUTEX | SQLITE_OPEN_SHAREDCACHE,
                    nullptr);
    if (bigCache)
        sqlite3_exec(db, "PRAGMA cache_size=1000000", nullptr, nullptr, nullptr);
    return db;
}

// ---- encrypted file through the driver ----

int g_connection = 0;

QSqlDatabase CipherOpen(const QString &path, bool bigCache)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("SQLITECIPHER"),
                                                QStringLiteral("bench-%1").arg(++g_connection));
    db.setDatabaseName(path);
    db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_ENABLE_SHARED_CACHE"));
    db.setPassword(QString::fromUtf8(kPassword));
    if (!db.open())
        std::fprintf(stderr, "open failed: %s\n", qPrintable(db.lastError().text()));
    if (bigCache) {
        QSqlQuery pragma(db);
        pragma.exec(QStringLiteral("PRAGMA cache_size=1000000"));
    }
    return db;
}

void CipherClose(QSqlDatabase &db)
{
    const QString name = db.connectionName();
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(name);
}

qint64 CipherQuery(QSqlDatabase &db, const char *sql)
{
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!query.exec(QString::fromLatin1(sql)))
        return -1;
    qint64 rows = 0;
    while (query.next()) {
        query.value(0);
        ++rows;
    }
    return rows;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int books = argc > 1 ? QByteArray(argv[1]).toInt() : 100000;
    RegisterSqlCipherDriver();
    QTemporaryDir dir;
    const QString plainPath = dir.filePath(QStringLiteral("plain.db"));
    const QString cipherPath = dir.filePath(QStringLiteral("cipher.db"));

    CatalogueGeneratorOptions options;
    options.books = books;
    options.seed = 1;
    options.nowUtc = 1764892800;
    QElapsedTimer timer;
    timer.start();
    QString error;
    if (!CatalogueGenerator::GeneratePlain(options, plainPath, nullptr, &error)) {
        std::fprintf(stderr, "generate failed: %s\n", qPrintable(error));
        return 1;
    }
    const double generateMs = double(timer.elapsed());
    timer.restart();
    if (!CatalogueEncrypter::EncryptFile(plainPath, cipherPath, kPassword, &error)) {
        std::fprintf(stderr, "encrypt failed: %s\n", qPrintable(error));
        return 1;
    }
    const double encryptMs = double(timer.elapsed());
    std::printf("catalogue: %d books, %.1f MB; generated in %.0f ms, encrypted in %.0f ms\n", books,
                double(QFile(cipherPath).size()) / 1048576.0, generateMs, encryptMs);

    // The first open derives the key (PBKDF2); later opens of the same file reuse it.
    timer.restart();
    {
        QSqlDatabase first = CipherOpen(cipherPath, false);
        CipherClose(first);
    }
    std::printf("first open with key derivation: %.1f ms\n\n", double(timer.nsecsElapsed()) / 1e6);

    std::printf("%-20s %-9s %12s %12s %8s %s\n", "query", "mode", "plain ms", "cipher ms", "ratio", "rows");
    bool rowsAgree = true;
    for (const QueryCase &query : kQueries) {
        for (const bool warm : {false, true}) {
            std::vector<double> plainTimes;
            std::vector<double> cipherTimes;
            qint64 plainRows = 0;
            qint64 cipherRows = 0;
            sqlite3 *plainDb = warm ? PlainOpen(plainPath, true) : nullptr;
            QSqlDatabase cipherDb = warm ? CipherOpen(cipherPath, true) : QSqlDatabase();
            if (warm) {
                PlainQuery(plainDb, query.sql);
                CipherQuery(cipherDb, query.sql);
            }
            // Interleave the two sides so that machine noise hits both alike.
            for (int run = 0; run < kRuns; ++run) {
                plainTimes.push_back(TimeMs(
                    [&] {
                        if (warm)
                            return PlainQuery(plainDb, query.sql);
                        sqlite3 *db = PlainOpen(plainPath, false);
                        const qint64 rows = PlainQuery(db, query.sql);
                        sqlite3_close(db);
                        return rows;
                    },
                    &plainRows));
                cipherTimes.push_back(TimeMs(
                    [&] {
                        if (warm)
                            return CipherQuery(cipherDb, query.sql);
                        QSqlDatabase db = CipherOpen(cipherPath, false);
                        const qint64 rows = CipherQuery(db, query.sql);
                        CipherClose(db);
                        return rows;
                    },
                    &cipherRows));
            }
            if (warm) {
                sqlite3_close(plainDb);
                CipherClose(cipherDb);
            }
            rowsAgree = rowsAgree && plainRows == cipherRows && plainRows >= 0;
            const double plainMs = Fastest(plainTimes);
            const double cipherMs = Fastest(cipherTimes);
            std::printf("%-20s %-9s %12.2f %12.2f %7.2fx %lld/%lld\n", query.name, warm ? "warm" : "cold",
                        plainMs, cipherMs, cipherMs / plainMs, static_cast<long long>(plainRows),
                        static_cast<long long>(cipherRows));
        }
    }
    std::printf("\ntargets: cold <= 1.30x, warm <= 1.05x; rows %s\n", rowsAgree ? "agree" : "DIFFER");
    return rowsAgree ? 0 : 1;
}
