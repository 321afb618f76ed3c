// The "SQLITECIPHER" driver over the decrypting file layer: opening, failures, values,
// prepared statements and use from several threads.
#include "writer/CatalogueEncrypter.h"
#include "cipher/SqlCipherDriverRegistration.h"
#include "cipher/SqlCipherInterrupt.h"
#include "TestSandbox.h"

#include <QAtomicInt>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlField>
#include <QSqlIndex>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <sqlite3.h>

namespace {

const QString kPassword = QStringLiteral("pässwörd-1");
int g_connectionCounter = 0;

bool Exec(sqlite3 *db, const char *sql)
{
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

// A small plain database with every storage class, then encrypted.
bool MakeCatalogue(const QString &plainPath, const QString &outPath, int pageSize, int rows)
{
    sqlite3 *db = nullptr;
    if (sqlite3_open(QFile::encodeName(plainPath).constData(), &db) != SQLITE_OK)
        return false;
    bool ok = CatalogueEncrypter::PrepareEmptyDatabase(db, pageSize)
              && Exec(db, "CREATE TABLE items(UID INTEGER PRIMARY KEY, Name TEXT NOT NULL, Price REAL, Data BLOB, Note)")
              && Exec(db, "BEGIN");
    sqlite3_stmt *stmt = nullptr;
    ok = ok && sqlite3_prepare_v2(db, "INSERT INTO items VALUES(?,?,?,?,?)", -1, &stmt, nullptr) == SQLITE_OK;
    for (int i = 1; ok && i <= rows; ++i) {
        const QByteArray name = QStringLiteral("Item %1 – ü €").arg(i).toUtf8() + QByteArray(i % 7 * 40, 'x');
        const QByteArray blob(i % 5, char(i));
        sqlite3_bind_int64(stmt, 1, i);
        sqlite3_bind_text(stmt, 2, name.constData(), name.size(), SQLITE_TRANSIENT);
        if (i % 10 == 0)
            sqlite3_bind_null(stmt, 3);
        else
            sqlite3_bind_double(stmt, 3, i * 0.25);
        sqlite3_bind_blob(stmt, 4, blob.constData(), blob.size(), SQLITE_TRANSIENT);
        sqlite3_bind_null(stmt, 5);
        ok = sqlite3_step(stmt) == SQLITE_DONE;
        sqlite3_reset(stmt);
    }
    sqlite3_finalize(stmt);
    ok = ok && Exec(db, "COMMIT") && Exec(db, "CREATE INDEX items_name ON items(Name)");
    sqlite3_close(db);
    QString error;
    ok = ok && CatalogueEncrypter::EncryptFile(plainPath, outPath, kPassword.toUtf8(), &error);
    if (!error.isEmpty())
        qWarning() << error;
    return ok;
}

// Opens a uniquely named connection; the caller removes it with Remove().
QSqlDatabase Open(const QString &path, const QString &password, const QString &options = QString())
{
    RegisterSqlCipherDriver();
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("SQLITECIPHER"),
                                                QStringLiteral("driver-test-%1").arg(++g_connectionCounter));
    db.setDatabaseName(path);
    db.setPassword(password);
    db.setConnectOptions(options.isNull() ? QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_ENABLE_SHARED_CACHE") : options);
    db.open();
    return db;
}

void Remove(QSqlDatabase &db)
{
    const QString name = db.connectionName();
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(name);
}

} // namespace

class TestSqlDriver : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir dir;
    QString catalogue;

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        catalogue = dir.filePath(QStringLiteral("items.db"));
        QVERIFY(MakeCatalogue(dir.filePath(QStringLiteral("items-plain.db")), catalogue, 1024, 600));
    }

    void registrationIsIdempotentAndFeaturesAreTruthful()
    {
        RegisterSqlCipherDriver();
        RegisterSqlCipherDriver();
        QVERIFY(QSqlDatabase::drivers().count(QStringLiteral("SQLITECIPHER")) == 1);
        QSqlDatabase db = Open(catalogue, kPassword);
        QVERIFY2(db.isOpen(), qPrintable(db.lastError().text()));
        QSqlDriver *driver = db.driver();
        QVERIFY(!driver->hasFeature(QSqlDriver::QuerySize));
        QVERIFY(driver->hasFeature(QSqlDriver::PreparedQueries));
        QVERIFY(driver->hasFeature(QSqlDriver::PositionalPlaceholders));
        QVERIFY(driver->hasFeature(QSqlDriver::NamedPlaceholders));
        QVERIFY(!driver->hasFeature(QSqlDriver::LastInsertId));
        QVERIFY(driver->hasFeature(QSqlDriver::Unicode));
        QVERIFY(driver->hasFeature(QSqlDriver::BLOB));
        QCOMPARE(db.tables(), QStringList{QStringLiteral("items")});
        const QSqlRecord columns = db.record(QStringLiteral("items"));
        QCOMPARE(columns.count(), 5);
        QCOMPARE(columns.fieldName(1), QStringLiteral("Name"));
        QCOMPARE(columns.field(0).type(), QVariant::LongLong);
        QCOMPARE(db.primaryIndex(QStringLiteral("items")).fieldName(0), QStringLiteral("UID"));
        Remove(db);
    }

    void openFailuresAreClean_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("missing file") << "missing";
        QTest::newRow("wrong password") << "wrong";
        QTest::newRow("empty password") << "empty";
        QTest::newRow("plain database") << "plain";
        QTest::newRow("truncated") << "truncated";
        QTest::newRow("not whole pages") << "partial";
        QTest::newRow("text file") << "text";
        QTest::newRow("empty file") << "zero";
    }

    void openFailuresAreClean()
    {
        QFETCH(QString, kind);
        QString path = dir.filePath(QStringLiteral("case-%1.db").arg(kind));
        QString password = kPassword;
        QFile::remove(path);
        QByteArray bytes;
        {
            QFile source(catalogue);
            QVERIFY(source.open(QIODevice::ReadOnly));
            bytes = source.readAll();
        }
        auto write = [&path](const QByteArray &content) {
            QFile out(path);
            QVERIFY(out.open(QIODevice::WriteOnly));
            out.write(content);
        };
        if (kind == QLatin1String("wrong")) {
            write(bytes);
            password = QStringLiteral("pässwörd-2");
        } else if (kind == QLatin1String("empty")) {
            write(bytes);
            password.clear();
        } else if (kind == QLatin1String("plain")) {
            path = dir.filePath(QStringLiteral("items-plain.db"));
        } else if (kind == QLatin1String("truncated")) {
            write(bytes.left(256));
        } else if (kind == QLatin1String("partial")) {
            write(bytes.left(bytes.size() - 100));
        } else if (kind == QLatin1String("text")) {
            write(QByteArray(4096, 'a'));
        } else if (kind == QLatin1String("zero")) {
            write(QByteArray());
        }
        QSqlDatabase db = Open(path, password);
        QVERIFY(!db.isOpen());
        QVERIFY(!db.lastError().text().trimmed().isEmpty());
        QVERIFY(!db.lastError().text().contains(kPassword));
        if (kind == QLatin1String("missing"))
            QVERIFY(!QFile::exists(path)); // never created
        QSqlQuery query(db);
        QVERIFY(!query.exec(QStringLiteral("select count(*) from items")));
        Remove(db);
    }

    // A catalogue never changes once written: a journal, log or shared-memory file left beside
    // it is neither needed nor replayed, and the open never touches it.
    void straySidecarFilesAreIgnored_data()
    {
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<QByteArray>("content");
        const QByteArray journalMagic = QByteArray::fromHex("d9d505f920a163d7");
        QTest::newRow("hot journal") << "-journal" << journalMagic + QByteArray(4088, '\x5a');
        QTest::newRow("journal of garbage") << "-journal" << QByteArray(512, '\x01');
        QTest::newRow("write-ahead log") << "-wal" << QByteArray(4096, '\x01');
        QTest::newRow("shared memory") << "-shm" << QByteArray(32768, '\x01');
    }

    void straySidecarFilesAreIgnored()
    {
        QFETCH(QString, suffix);
        QFETCH(QByteArray, content);
        const QString path = dir.filePath(QStringLiteral("sidecar.db"));
        QFile::remove(path);
        QVERIFY(QFile::copy(catalogue, path));
        QFile sidecar(path + suffix);
        QVERIFY(sidecar.open(QIODevice::WriteOnly));
        QCOMPARE(sidecar.write(content), qint64(content.size()));
        sidecar.close();
        for (const QString &options : {QString(), QStringLiteral("QSQLITE_OPEN_READONLY")}) {
            QSqlDatabase db = Open(path, kPassword, options);
            QVERIFY2(db.isOpen(), qPrintable(db.lastError().text()));
            QSqlQuery query(db);
            QVERIFY2(query.exec(QStringLiteral("select count(*) from items")) && query.next(),
                     qPrintable(query.lastError().text()));
            QCOMPARE(query.value(0).toInt(), 600);
            query = QSqlQuery();
            Remove(db);
        }
        QCOMPARE(TestSandbox::ReadBytes(path + suffix), content);
        QFile::remove(path + suffix);
    }

    // A query that would run for ever ends with an error: when it has spent its budget, or
    // at once when the stop check asks for it.
    void endlessQueriesAreCutShort_data()
    {
        QTest::addColumn<qint64>("budgetMs");
        QTest::addColumn<bool>("stop");
        QTest::newRow("statement budget") << qint64(300) << false;
        QTest::newRow("stop check") << SqlCipherInterrupt::DefaultStatementBudgetMs << true;
    }

    void endlessQueriesAreCutShort()
    {
        QFETCH(qint64, budgetMs);
        QFETCH(bool, stop);
        QCOMPARE(SqlCipherInterrupt::StatementBudgetMs(), SqlCipherInterrupt::DefaultStatementBudgetMs);
        SqlCipherInterrupt::SetStatementBudgetMs(budgetMs);
        SqlCipherInterrupt::SetStopCheck(stop ? +[] { return true; } : nullptr);
        QSqlDatabase db = Open(catalogue, kPassword);
        QElapsedTimer clock;
        clock.start();
        {
            QSqlQuery query(db);
            QVERIFY(!query.exec(QStringLiteral("with recursive r(n) as (select 1 union all select n + 1 from r) "
                                               "select count(*) from r, items")));
            QVERIFY2(query.lastError().text().contains(QLatin1String("interrupt")), qPrintable(query.lastError().text()));
        }
        QVERIFY2(clock.elapsed() < budgetMs / 4 + (stop ? 500 : 2000), qPrintable(QString::number(clock.elapsed())));
        SqlCipherInterrupt::SetStatementBudgetMs(SqlCipherInterrupt::DefaultStatementBudgetMs);
        SqlCipherInterrupt::SetStopCheck(nullptr);
        // The connection goes on answering.
        QSqlQuery count(db);
        QVERIFY(count.exec(QStringLiteral("select count(*) from items")) && count.next());
        QCOMPARE(count.value(0).toInt(), 600);
        count = QSqlQuery();
        Remove(db);
    }

    // A damaged page: queries that reach it fail, never return garbage.
    void tamperedPageFailsQueries_data()
    {
        QTest::addColumn<int>("page");
        QTest::newRow("table root") << 2;
        QTest::newRow("last page") << -1;
    }

    void tamperedPageFailsQueries()
    {
        QFETCH(int, page);
        const QString path = dir.filePath(QStringLiteral("tampered.db"));
        QFile::remove(path);
        QVERIFY(QFile::copy(catalogue, path));
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadWrite));
            const qint64 pageStart = page > 0 ? qint64(page - 1) * 1024 : file.size() - 1024;
            const qint64 offset = pageStart + 200;
            file.seek(offset);
            char c = 0;
            file.getChar(&c);
            file.seek(offset);
            file.putChar(char(c ^ 0x40));
        }
        QSqlDatabase db = Open(path, kPassword);
        QVERIFY2(db.isOpen(), qPrintable(db.lastError().text()));
        if (page == 2) {
            QSqlQuery query(db);
            bool failed = !query.exec(QStringLiteral("select Name, Data from items order by UID"));
            int rows = 0;
            while (!failed && query.next())
                ++rows;
            failed = failed || query.lastError().isValid();
            QVERIFY(failed);
            QCOMPARE(rows, 0);
        }
        QSqlQuery check(db);
        const bool ran = check.exec(QStringLiteral("PRAGMA integrity_check")) && check.next();
        QVERIFY(!ran || check.value(0).toString() != QLatin1String("ok"));
        check = QSqlQuery();
        Remove(db);
    }

    // Any single damaged byte (header, salt, content, nonce, tag): the catalogue either fails
    // to open, or every query gives the original rows or an error, never other rows.
    void damagedBytesNeverGiveOtherRows()
    {
        QByteArray original;
        {
            QFile source(catalogue);
            QVERIFY(source.open(QIODevice::ReadOnly));
            original = source.readAll();
        }
        const QString sql = QStringLiteral("select UID, Name, Price, Data from items order by UID");
        auto snapshot = [&sql](QSqlDatabase &db, QString *rows) {
            QSqlQuery query(db);
            query.setForwardOnly(true);
            if (!query.exec(sql))
                return false;
            while (query.next()) {
                for (int i = 0; i < 4; ++i)
                    *rows += query.value(i).toString() + QLatin1Char('|');
            }
            return !query.lastError().isValid();
        };
        QString expected;
        {
            QSqlDatabase db = Open(catalogue, kPassword);
            QVERIFY(snapshot(db, &expected));
            Remove(db);
        }
        const QString path = dir.filePath(QStringLiteral("damaged.db"));
        quint32 state = 12345;
        int opened = 0;
        for (int round = 0; round < 48; ++round) {
            state = state * 1664525u + 1013904223u;
            // A third of the rounds hit the plain header and salt of page 1.
            const int offset = round % 3 == 0 ? int(state % 24) : int(state % quint32(original.size()));
            QByteArray damaged = original;
            damaged[offset] = char(damaged.at(offset) ^ (1 << (state >> 29)));
            {
                QFile out(path);
                QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
                out.write(damaged);
            }
            QSqlDatabase db = Open(path, kPassword);
            if (db.isOpen()) {
                ++opened;
                QString rows;
                if (snapshot(db, &rows))
                    QVERIFY2(rows == expected, qPrintable(QStringLiteral("offset %1").arg(offset)));
            }
            Remove(db);
        }
        QVERIFY(opened > 0); // damage beyond page 1 still lets the file open
    }

    void valuesAndRecords()
    {
        QSqlDatabase db = Open(catalogue, kPassword, QStringLiteral("QSQLITE_OPEN_READONLY"));
        QVERIFY2(db.isOpen(), qPrintable(db.lastError().text()));
        QSqlQuery query(db);
        QVERIFY(query.exec(QStringLiteral("select UID, Name, Price, Data, Note, 1 + 1 as Two from items where UID in (3, 10) order by UID")));
        const QSqlRecord record = query.record();
        QCOMPARE(record.count(), 6);
        QCOMPARE(record.fieldName(0), QStringLiteral("UID"));
        QCOMPARE(record.fieldName(5), QStringLiteral("Two"));
        QCOMPARE(record.field(1).type(), QVariant::String);
        QVERIFY(query.next());
        QCOMPARE(query.value(0).userType(), int(QMetaType::LongLong));
        QCOMPARE(query.value(0).toLongLong(), 3LL);
        QCOMPARE(query.value(1).userType(), int(QMetaType::QString));
        QVERIFY(query.value(1).toString().startsWith(QStringLiteral("Item 3 – ü €xxx")));
        QCOMPARE(query.value(2).userType(), int(QMetaType::Double));
        QCOMPARE(query.value(2).toDouble(), 0.75);
        QCOMPARE(query.value(3).userType(), int(QMetaType::QByteArray));
        QCOMPARE(query.value(3).toByteArray(), QByteArray(3, char(3)));
        QVERIFY(query.value(4).isNull());
        QVERIFY(query.isNull(4));
        QCOMPARE(query.value("Two").toLongLong(), 2LL);
        QVERIFY(query.next());
        QVERIFY(query.value(2).isNull()); // NULL price
        QVERIFY(!query.next());

        // Scrolling: back, last, first.
        QVERIFY(query.exec(QStringLiteral("select UID from items where UID <= 5 order by UID")));
        QVERIFY(query.last());
        QCOMPARE(query.value(0).toInt(), 5);
        QVERIFY(query.previous());
        QCOMPARE(query.value(0).toInt(), 4);
        QVERIFY(query.first());
        QCOMPARE(query.value(0).toInt(), 1);
        QVERIFY(query.seek(2));
        QCOMPARE(query.value(0).toInt(), 3);
        QCOMPARE(query.size(), -1);

        // The file stays read-only and a bad statement reports an error.
        QVERIFY(!query.exec(QStringLiteral("delete from items")));
        QVERIFY(!query.lastError().text().isEmpty());
        QVERIFY(!query.exec(QStringLiteral("select nothing from nowhere")));
        QVERIFY(query.exec(QStringLiteral("select count(*) from items")));
        QVERIFY(query.next());
        QCOMPARE(query.value(0).toInt(), 600);
        Remove(db);
    }

    void preparedStatements()
    {
        QSqlDatabase db = Open(catalogue, kPassword);
        QVERIFY(db.isOpen());
        QSqlQuery query(db);
        QVERIFY(query.prepare(QStringLiteral("select UID from items where UID > ? and UID <= ? order by UID")));
        query.addBindValue(10);
        query.addBindValue(QVariant(qlonglong(13)));
        QVERIFY(query.exec());
        QList<int> ids;
        while (query.next())
            ids << query.value(0).toInt();
        QCOMPARE(ids, (QList<int>{11, 12, 13}));
        query.bindValue(0, 598); // re-run with new values
        query.bindValue(1, 1000);
        QVERIFY(query.exec());
        ids.clear();
        while (query.next())
            ids << query.value(0).toInt();
        QCOMPARE(ids, (QList<int>{599, 600}));

        // Named, with one name used twice and a value containing quotes.
        QVERIFY(query.prepare(QStringLiteral("select count(*) from items where (UID = :id or UID = :id + 1) and Name <> :name")));
        query.bindValue(QStringLiteral(":id"), 20);
        query.bindValue(QStringLiteral(":name"), QStringLiteral("it's"));
        QVERIFY2(query.exec(), qPrintable(query.lastError().text()));
        QVERIFY(query.next());
        QCOMPARE(query.value(0).toInt(), 2);

        QVERIFY(query.prepare(QStringLiteral("select Name from items where Data = :blob and UID = :uid")));
        query.bindValue(QStringLiteral(":uid"), 4);
        query.bindValue(QStringLiteral(":blob"), QByteArray(4, char(4)));
        QVERIFY(query.exec());
        QVERIFY(query.next());
        QVERIFY(query.value(0).toString().startsWith(QStringLiteral("Item 4 ")));
        Remove(db);
    }

    // One connection queried by two threads while a third opens and closes connections
    // to the same file (shared cache) with right and wrong passwords.
    void threadsShareOneConnection()
    {
        QSqlDatabase db = Open(catalogue, kPassword);
        QVERIFY(db.isOpen());
        QAtomicInt failures;
        QAtomicInt stop;
        auto reader = [&db, &failures, &stop](int modulo) {
            while (!stop.loadAcquire()) {
                QSqlQuery query(db);
                if (!query.exec(QStringLiteral("select UID, Name from items where UID % %1 = 0").arg(modulo))) {
                    failures.ref();
                    return;
                }
                int rows = 0;
                while (query.next()) {
                    if (query.value(0).toInt() % modulo != 0 || !query.value(1).toString().startsWith(QStringLiteral("Item ")))
                        failures.ref();
                    ++rows;
                }
                if (rows != 600 / modulo)
                    failures.ref();
            }
        };
        QThread *first = QThread::create(reader, 3);
        QThread *second = QThread::create(reader, 5);
        QAtomicInt openFailures;
        QThread *opener = QThread::create([this, &openFailures] {
            for (int i = 0; i < 12; ++i) {
                const bool wrong = i % 3 == 2;
                QSqlDatabase other = Open(catalogue, wrong ? QStringLiteral("nope") : kPassword);
                if (other.isOpen() == wrong)
                    openFailures.ref();
                if (other.isOpen()) {
                    QSqlQuery query(other);
                    if (!query.exec(QStringLiteral("select count(*) from items")) || !query.next()
                        || query.value(0).toInt() != 600) {
                        openFailures.ref();
                    }
                }
                Remove(other);
            }
        });
        first->start();
        second->start();
        opener->start();
        QVERIFY(opener->wait(30000));
        stop.storeRelease(1);
        QVERIFY(first->wait(30000));
        QVERIFY(second->wait(30000));
        delete first;
        delete second;
        delete opener;
        QCOMPARE(failures.loadAcquire(), 0);
        QCOMPARE(openFailures.loadAcquire(), 0);
        Remove(db);
    }

    // A query outliving its closed connection fails cleanly.
    void queryAfterClose()
    {
        QSqlDatabase db = Open(catalogue, kPassword);
        QSqlQuery query(db);
        QVERIFY(query.exec(QStringLiteral("select UID from items")));
        QVERIFY(query.next());
        db.close();
        QVERIFY(!query.next() || !query.value(0).isValid());
        QVERIFY(!query.exec(QStringLiteral("select UID from items")));
        QVERIFY(db.open());
        QSqlQuery again(db);
        QVERIFY(again.exec(QStringLiteral("select count(*) from items")) && again.next());
        QCOMPARE(again.value(0).toInt(), 600);
        query = QSqlQuery();
        again = QSqlQuery();
        Remove(db);
    }
};

QTEST_GUILESS_MAIN(TestSqlDriver)
#include "test_sqldriver.moc"
