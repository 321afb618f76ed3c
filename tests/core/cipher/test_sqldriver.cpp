// The catalogue page codec's known answers and refusals, and the "SQLITECIPHER" driver over the
// decrypting file layer: opening, failures, values, prepared statements and use from several threads.
#include "writer/CatalogueEncrypter.h"
#include "cipher/CipherPageCodec.h"
#include "cipher/SqlCipherDriverRegistration.h"
#include "cipher/SqlCipherInterrupt.h"
#include "TestSandbox.h"

#include <QAtomicInt>
#include <QCryptographicHash>
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

#include <atomic>
#include <cstring>
#include <vector>

namespace {

const QString kPassword = QStringLiteral("pässwörd-1");
int g_connectionCounter = 0;

// A small plain database of 600 items with every storage class (names of varied length, NULL
// prices, empty blobs), an index and a view, then encrypted.
bool MakeCatalogue(const QString &plainPath, const QString &outPath)
{
    const char *sql = "CREATE TABLE items(UID INTEGER PRIMARY KEY, Name VARCHAR(200) NOT NULL, Price REAL, Data BLOB, "
                      "Note DEFAULT 'none');"
                      "INSERT INTO items WITH RECURSIVE r(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM r WHERE i < 600) "
                      "SELECT i, 'Item ' || i || ' – ü €' || printf('%.*c', i % 7 * 40, 'x'), iif(i % 10, i * 0.25, NULL), "
                      "CAST(substr('abcd', 1, i % 5) AS BLOB), NULL FROM r;"
                      "CREATE INDEX items_name ON items(Name); CREATE VIEW cheap AS SELECT UID FROM items WHERE Price < 1; ANALYZE;";
    sqlite3 *db = nullptr;
    const bool ok = sqlite3_open(QFile::encodeName(plainPath).constData(), &db) == SQLITE_OK
                    && CatalogueEncrypter::PrepareEmptyDatabase(db, 1024)
                    && sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return ok && CatalogueEncrypter::EncryptFile(plainPath, outPath, kPassword.toUtf8());
}

// The plain catalogue's pages encrypted one by one with kPassword, as the writer would after its checks.
QByteArray EncryptPages(QByteArray plain)
{
    const uint8_t salt[16] = {7};
    uint8_t key[32];
    CipherPageCodec codec;
    bool ok = CipherPageCodec::DeriveKey(kPassword.toUtf8(), salt, key);
    codec.SetKey(key);
    auto *pages = reinterpret_cast<uint8_t *>(plain.data());
    for (int pgno = 1; ok && pgno * 1024 <= plain.size(); ++pgno)
        ok = codec.EncryptPage(pages + (pgno - 1) * 1024, 1024, uint32_t(pgno), salt) == CipherPageCodec::Result::Ok;
    return ok ? plain : QByteArray();
}

// Opens a uniquely named connection; it is removed once the case has ended.
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

// The first column of every row, or {-1} when the query fails.
QVariantList Column(QSqlQuery &query, const QString &sql = QString())
{
    if (!sql.isNull() && !query.exec(sql))
        return {-1};
    QVariantList values;
    while (query.next())
        values << query.value(0);
    return query.lastError().isValid() ? QVariantList{-1} : values;
}

int CountItems(QSqlDatabase &db)
{
    QSqlQuery query(db);
    const QVariantList values = Column(query, QStringLiteral("select count(*) from items"));
    return values.size() == 1 ? values.first().toInt() : -1;
}

QByteArray Hex(const uint8_t *data, int size)
{
    return QByteArray(reinterpret_cast<const char *>(data), size).toHex();
}

} // namespace

class TestSqlDriver : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir dir;
    QString catalogue;
    QString plain;
    // The key of the codec's known-answer vectors: "secret" with the salt 00 01 .. 0f.
    uint8_t key[32] = {};
    CipherPageCodec codec;

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        catalogue = dir.filePath(QStringLiteral("items.db"));
        plain = dir.filePath(QStringLiteral("items-plain.db"));
        QVERIFY(MakeCatalogue(plain, catalogue));
        const uint8_t salt[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
        QVERIFY(CipherPageCodec::DeriveKey("secret", salt, key));
        QCOMPARE(Hex(key, 32), QByteArray("ceeb8796c916c49d37d238240ef32e16694669bb591202273b94ba4bee58b054"));
        QVERIFY(!CipherPageCodec::DeriveKey(QByteArray(), salt, key));
        codec.SetKey(key);
    }

    // Every connection a case opened; its queries are gone by now.
    void cleanup()
    {
        for (const QString &name : QSqlDatabase::connectionNames())
            QSqlDatabase::removeDatabase(name);
    }

    // The content counter starts at 0xFFFFFFFF and must wrap to block 0 with the same nonce.
    void counterWrapVector()
    {
        std::vector<uint8_t> page(512, 0);
        const uint8_t nonce[16] = {0xa0, 0xa1, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7,
                                   0xa8, 0xa9, 0xaa, 0xab, 0xfd, 0xff, 0xff, 0xff};
        const uint8_t salt[16] = {};
        QVERIFY(codec.EncryptPageWithNonce(page.data(), 512, 3, salt, nonce) == CipherPageCodec::Result::Ok);
        QCOMPARE(Hex(page.data() + 496, 16), QByteArray("1bc4310bf7df8533fd26e00c4add4ba7"));
        QCOMPARE(QCryptographicHash::hash(QByteArray(reinterpret_cast<const char *>(page.data()), 512),
                                          QCryptographicHash::Sha256).toHex(),
                 QByteArray("5cab5de480d54c8e44099081d801b307e6dec58ab8e116d3373c0f2b6e894dab"));
        QVERIFY(codec.DecryptPage(page.data(), 512, 3) == CipherPageCodec::Result::Ok);
        QVERIFY(std::all_of(page.begin(), page.begin() + 480, [](uint8_t b) { return b == 0; }));
    }

    void tamperingAndWrongKeyAreRejected()
    {
        const uint8_t salt[16] = {9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 1, 2, 3, 4, 5, 6};
        std::vector<uint8_t> clear(1024, 0x5a);
        std::memcpy(clear.data(), CipherPageCodec::SqliteMagic, 16);
        clear[16] = 0x04; // page size 1024
        clear[17] = 0x00;
        clear[20] = 32;
        std::vector<uint8_t> page = clear;
        QVERIFY(codec.EncryptPage(page.data(), 1024, 1, salt) == CipherPageCodec::Result::Ok);
        QVERIFY(std::equal(salt, salt + 16, page.begin())); // salt replaces the magic
        QCOMPARE(page[16], uint8_t(0x04));                  // header bytes stay readable
        CipherPageCodec other;
        uint8_t otherKey[32];
        QVERIFY(CipherPageCodec::DeriveKey("Secret", salt, otherKey));
        other.SetKey(otherKey);

        // A flipped bit in each covered region (salt, plain header byte, content, nonce, tag), then the
        // page read at another position, then with another key: refused, and nothing decrypted.
        const int offsets[] = {0, 17, 100, 991, 1000, 1023, -1, -1};
        for (int i = 0; i < 8; ++i) {
            std::vector<uint8_t> bad = page;
            if (offsets[i] >= 0)
                bad[offsets[i]] ^= 0x01;
            const std::vector<uint8_t> before = bad;
            CipherPageCodec &reader = i == 7 ? other : codec;
            QVERIFY(reader.DecryptPage(bad.data(), 1024, i == 6 ? 2 : 1) == CipherPageCodec::Result::BadMac);
            QVERIFY(bad == before);
        }
        QVERIFY(codec.DecryptPage(page.data(), 1024, 1) == CipherPageCodec::Result::Ok);
        QVERIFY(std::equal(clear.begin(), clear.begin() + 992, page.begin()));
    }

    void headerChecks()
    {
        // Big-endian bytes 16-17; 1 stands for 65536; 0, 256 and 768 are no page sizes.
        for (const auto &size : {qMakePair(0x1000, 4096), qMakePair(0x0001, 65536), qMakePair(0x0200, 512),
                                 qMakePair(0x0100, 0), qMakePair(0, 0), qMakePair(0x0300, 0)}) {
            uint8_t header[24] = {};
            header[16] = uint8_t(size.first >> 8);
            header[17] = uint8_t(size.first);
            QCOMPARE(CipherPageCodec::PageSizeFromHeader(header), size.second);
        }
        // Forms that other implementations take as a raw key are refused; their near misses are passwords.
        const QString raw = QStringLiteral("the catalogue password has a reserved raw-key form");
        const QList<QPair<QByteArray, QString>> passwords{
            {"", "an empty catalogue password is not allowed"}, {"raw:short", ""}, {"raw:" + QByteArray(32, 'a'), raw},
            {"raw:" + QByteArray(48, 'a'), raw}, {"raw:" + QByteArray(64, 'a'), raw}, {"raw:" + QByteArray(96, 'a'), raw},
            {"raw:" + QByteArray(33, 'a'), ""}, {"raw:" + QByteArray(97, 'a'), ""}, {"x'" + QByteArray(64, '0') + "'", raw},
            {"x'" + QByteArray(96, '0') + "'", raw}, {"x'" + QByteArray(95, '0') + "'", ""}, {"x'" + QByteArray(65, '0'), ""}};
        for (const auto &password : passwords)
            QCOMPARE(CipherPageCodec::PasswordProblem(password.first), password.second);
    }

    void valuesAndRecords()
    {
        QSqlDatabase db = Open(catalogue, kPassword, QStringLiteral("QSQLITE_OPEN_READONLY"));
        QVERIFY2(db.isOpen(), qPrintable(db.lastError().text()));
        QSqlQuery query(db);
        QVERIFY(query.exec(QStringLiteral("select UID, Name, Price, Data, Note, 1 + 1 as Two from items where UID in (3, 10) order by UID")));
        const QSqlRecord record = query.record();
        QCOMPARE(record.count(), 6);
        QCOMPARE(record.fieldName(0) + record.fieldName(5), QStringLiteral("UIDTwo"));
        QCOMPARE(record.field(1).type(), QVariant::String);
        // Each value with its type; NULL prices and notes, and an empty blob that is no NULL.
        const QString tail(120, QLatin1Char('x'));
        const QList<QVariantList> rows{{3LL, "Item 3 – ü €" + tail, 0.75, QByteArray("abc"), QVariant(), 2LL},
                                       {10LL, "Item 10 – ü €" + tail, QVariant(), QByteArray(""), QVariant(), 2LL}};
        for (const QVariantList &row : rows) {
            QVERIFY(query.next());
            for (int i = 0; i < row.size(); ++i) {
                const QVariant value = query.value(i);
                const QVariant &want = row.at(i);
                QVERIFY2(value == want && value.userType() == want.userType() && value.isNull() == want.isNull(),
                         qPrintable(QStringLiteral("column %1").arg(i)));
            }
            QVERIFY(query.isNull(4));
        }
        QVERIFY(!query.next());

        // Scrolling: back, last, first, past the end and back again.
        QVERIFY(query.exec(QStringLiteral("select UID from items where UID <= 5 order by UID")));
        QVERIFY(query.last() && query.value(0).toInt() == 5);
        QVERIFY(query.previous() && query.value(0).toInt() == 4);
        QVERIFY(query.first() && query.value(0).toInt() == 1);
        QVERIFY(!query.seek(7) && !query.value(0).isValid());
        QVERIFY(query.seek(2) && query.value(0).toInt() == 3);
        QCOMPARE(query.numRowsAffected(), 0);
        QVERIFY(query.exec(QStringLiteral("select UID from items where 0")) && !query.last());
        QVERIFY(query.exec(QStringLiteral("PRAGMA cache_size = 50")) && query.record().isEmpty());

        // The file stays read-only and a bad statement reports an error.
        QVERIFY(!query.exec(QStringLiteral("delete from items")) && !query.lastError().text().isEmpty());
        QVERIFY(!query.exec(QStringLiteral("select nothing from nowhere")));
        QCOMPARE(CountItems(db), 600);
    }

    // What the driver tells of itself and of the catalogue, while open and once closed.
    void driverDescribesCatalogue()
    {
        RegisterSqlCipherDriver(); // once more
        QCOMPARE(QSqlDatabase::drivers().count(QStringLiteral("SQLITECIPHER")), 1);
        QSqlDatabase db = Open(catalogue, kPassword, QStringLiteral("QSQLITE_BUSY_TIMEOUT=100;QSQLITE_BUSY_TIMEOUT=x;OTHER"));
        QVERIFY2(db.open(), qPrintable(db.lastError().text())); // opening again replaces the connection
        const QSqlDriver *driver = db.driver();
        QCOMPARE(db.tables(), QStringList{QStringLiteral("items")});
        QCOMPARE(db.tables(QSql::AllTables), (QStringList{"items", "cheap", "sqlite_master"}));
        const QSqlRecord columns = db.record(QStringLiteral("\"items\""));
        QCOMPARE(columns.count(), 5);
        QVERIFY(columns.field(0).type() == QVariant::LongLong && columns.field(0).isAutoValue());
        QVERIFY(columns.fieldName(1) == QLatin1String("Name") && columns.field(1).requiredStatus() == QSqlField::Required);
        QVERIFY(columns.field(1).type() == QVariant::String && columns.field(4).defaultValue() == "'none'");
        const QSqlIndex key = db.primaryIndex(QStringLiteral("items"));
        QVERIFY(key.name() == QLatin1String("items") && key.count() == 1 && key.fieldName(0) == QLatin1String("UID"));
        QVERIFY(db.record(QStringLiteral("cheap")).count() == 1 && db.primaryIndex(QStringLiteral("cheap")).isEmpty());
        QVERIFY(db.record(QStringLiteral("nothing")).isEmpty() && db.primaryIndex(QStringLiteral("nothing")).isEmpty());
        QCOMPARE(driver->escapeIdentifier(QStringLiteral("a\"b"), QSqlDriver::TableName), QStringLiteral("\"a\"\"b\""));
        QVERIFY(driver->handle().value<void *>());
        // Reading in a transaction works; after the commit there is nothing to roll back.
        QVERIFY(db.transaction() && CountItems(db) == 600 && db.commit());
        QVERIFY(!db.rollback() && db.lastError().text().contains(QLatin1String("roll back")));

        // Closed, it describes nothing; a query outliving the connection fails cleanly.
        QSqlQuery query(db);
        QVERIFY(query.exec(QStringLiteral("select UID from items")) && query.next());
        db.close();
        QVERIFY(!query.next() || !query.value(0).isValid());
        QVERIFY(!query.exec(QStringLiteral("select UID from items")));
        QVERIFY(db.tables().isEmpty() && db.record(QStringLiteral("items")).isEmpty());
        QVERIFY(db.primaryIndex(QStringLiteral("items")).isEmpty() && !db.transaction() && !driver->handle().value<void *>());
        QVERIFY(db.open());
        QCOMPARE(CountItems(db), 600);
    }

    void openFailuresAreClean_data()
    {
        QTest::addColumn<QString>("path"); // the case's own file unless given
        QTest::addColumn<QByteArray>("bytes"); // no file when null
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("says");
        const QByteArray good = TestSandbox::ReadBytes(catalogue);
        QTest::newRow("missing file") << QString() << QByteArray() << kPassword << "does not exist";
        QTest::newRow("no name") << QStringLiteral("") << QByteArray() << kPassword << "no catalogue file";
        QTest::newRow("in memory") << ":memory:" << QByteArray() << kPassword << "no catalogue file";
        QTest::newRow("folder") << dir.path() << QByteArray() << kPassword << "is a directory";
        QTest::newRow("device") << "/dev/null" << QByteArray() << kPassword << "is not a regular file";
        const QString refused = QStringLiteral("wrong password or not an encrypted catalogue");
        const QString small = QStringLiteral("the file is too small to be a catalogue");
        const QString cut = QStringLiteral("the catalogue file is truncated (not whole pages)");
        const QString notOne = QStringLiteral("the file is not an encrypted catalogue (%1)");
        QTest::newRow("wrong password") << QString() << good << QStringLiteral("pässwörd-2") << refused;
        QTest::newRow("empty password") << QString() << good << QString() << "no catalogue password was given";
        QTest::newRow("raw-key password") << QString() << good << "raw:" + QString(32, 'k') << "reserved raw-key form";
        QTest::newRow("plain database") << QString() << TestSandbox::ReadBytes(plain) << kPassword << refused;
        QTest::newRow("511 bytes") << QString() << good.left(511) << kPassword << small;
        QTest::newRow("512 bytes") << QString() << good.left(512) << kPassword << cut;
        QTest::newRow("not whole pages") << QString() << good.left(good.size() - 100) << kPassword << cut;
        QTest::newRow("text file") << QString() << QByteArray(4096, 'a') << kPassword << notOne.arg("bad page size");
        QTest::newRow("empty file") << QString() << QByteArray("") << kPassword << small;
        QTest::newRow("31 reserved bytes") << QString() << QByteArray(good).replace(20, 1, "\x1f") << kPassword << notOne.arg("no reserved bytes");
        QTest::newRow("format 3") << QString() << QByteArray(good).replace(18, 2, "\x03\x03") << kPassword << notOne.arg("bad file format");
        QTest::newRow("formats differ") << QString() << QByteArray(good).replace(18, 2, "\x01\x02") << kPassword << notOne.arg("bad file format");
        // A first page whose tag checks out but whose content is no database.
        QTest::newRow("unreadable first page") << QString() << EncryptPages(TestSandbox::ReadBytes(plain).replace(100, 800, QByteArray(800, '\x7f')))
                                               << kPassword << "the catalogue cannot be read";
    }
    void openFailuresAreClean()
    {
        QFETCH(QString, path);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, password);
        QFETCH(QString, says);
        if (path.isNull())
            path = dir.filePath(QStringLiteral("case-%1.db").arg(QTest::currentDataTag()));
        if (!bytes.isNull())
            QVERIFY(TestSandbox::WriteBytes(path, bytes));
        const bool existed = QFileInfo::exists(path);
        QSqlDatabase db = Open(path, password);
        QVERIFY(!db.isOpen());
        const QString error = db.lastError().text();
        QVERIFY2(!error.trimmed().isEmpty() && error.contains(says) && !error.contains(kPassword), qPrintable(error));
        QCOMPARE(QFileInfo::exists(path), existed); // a missing file is never created
        QCOMPARE(CountItems(db), -1);
    }

    // A catalogue never changes once written: a journal, log or shared-memory file left beside
    // it is neither needed nor replayed, and the open never touches it.
    void straySidecarFilesAreIgnored_data()
    {
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("walFormat"); // the catalogue's header names the write-ahead log
        QTest::newRow("hot journal") << "-journal" << QByteArray::fromHex("d9d505f920a163d7") + QByteArray(4088, '\x5a') << false;
        QTest::newRow("journal of garbage") << "-journal" << QByteArray(512, '\x01') << false;
        QTest::newRow("write-ahead log") << "-wal" << QByteArray(4096, '\x01') << false;
        QTest::newRow("shared memory") << "-shm" << QByteArray(32768, '\x01') << false;
        QTest::newRow("log beside a WAL-format file") << "-wal" << QByteArray(4096, '\x01') << true;
    }
    void straySidecarFilesAreIgnored()
    {
        QFETCH(QString, suffix);
        QFETCH(QByteArray, content);
        QFETCH(bool, walFormat);
        const QString catalogue = walFormat ? dir.filePath(QStringLiteral("wal-format.db")) : this->catalogue;
        if (walFormat)
            QVERIFY(TestSandbox::WriteBytes(catalogue, EncryptPages(TestSandbox::ReadBytes(plain).replace(18, 2, "\x02\x02"))));
        QVERIFY(TestSandbox::WriteBytes(catalogue + suffix, content));
        for (const QString &options : {QString(), QStringLiteral("QSQLITE_OPEN_READONLY")}) {
            QSqlDatabase db = Open(catalogue, kPassword, options);
            QVERIFY2(db.isOpen(), qPrintable(db.lastError().text()));
            QVERIFY(!QSqlQuery(db).exec(QStringLiteral("delete from items"))); // opened read-only
            QCOMPARE(CountItems(db), 600);
        }
        QCOMPARE(TestSandbox::ReadBytes(catalogue + suffix), content);
        QVERIFY(QFile::remove(catalogue + suffix));
    }

    // Only a stop request cuts a query short, at once; asked all along and declining, it lets
    // even a long statement run to its end.
    void onlyStopsCutQueriesShort_data()
    {
        QTest::addColumn<bool>("stop");
        QTest::addColumn<QString>("rows"); // the recursion's bound; endless when empty
        QTest::newRow("stop asked, endless") << true << QString();
        QTest::newRow("no stop, long") << false << QStringLiteral("3000000");
    }
    void onlyStopsCutQueriesShort()
    {
        QFETCH(bool, stop);
        QFETCH(QString, rows);
        static std::atomic<int> asked;
        static std::atomic<bool> stopping;
        asked = 0;
        stopping = stop;
        SqlCipherInterrupt::SetStopCheck(+[] {
            ++asked;
            return stopping.load();
        });
        const auto reset = qScopeGuard([] { SqlCipherInterrupt::SetStopCheck(nullptr); });
        QSqlDatabase db = Open(catalogue, kPassword);
        QElapsedTimer clock;
        clock.start();
        {
            const QString bound = rows.isEmpty() ? QString() : QStringLiteral(" where n < ") + rows;
            QSqlQuery query(db);
            const bool ran = query.exec(QStringLiteral("with recursive r(n) as (select 1 union all select n + 1 from r%1) "
                                                       "select count(*) from r").arg(bound));
            QCOMPARE(ran, !stop);
            if (stop) {
                QVERIFY2(query.lastError().text().contains(QLatin1String("interrupt")), qPrintable(query.lastError().text()));
                QVERIFY2(clock.elapsed() < 500, qPrintable(QString::number(clock.elapsed())));
            } else {
                QVERIFY(query.next());
                QCOMPARE(query.value(0).toString(), rows);
                QVERIFY(asked > 100); // the check was there all along
            }
        }
        QCOMPARE(CountItems(db), 600); // the connection goes on answering
    }

    // Any single damaged byte (header, salt, content, nonce, tag): the catalogue either fails
    // to open, or every query gives the original rows or an error, never other rows. Damage in
    // the table's root page fails its query; damage anywhere fails the integrity check.
    void damagedBytesNeverGiveOtherRows()
    {
        const QByteArray original = TestSandbox::ReadBytes(catalogue);
        const QString sql = QStringLiteral("select UID || '|' || Name || '|' || ifnull(Price, '') || '|' || hex(Data) "
                                           "from items order by UID");
        QSqlDatabase sound = Open(catalogue, kPassword);
        QSqlQuery reading(sound);
        const QVariantList expected = Column(reading, sql);
        QCOMPARE(expected.size(), 600);
        const QString path = dir.filePath(QStringLiteral("damaged.db"));
        const int tableRoot = 1024 + 200;
        const int lastPage = original.size() - 1024 + 200;
        quint32 state = 12345;
        int opened = 0;
        for (int round = -2; round < 48; ++round) {
            state = state * 1664525u + 1013904223u;
            // A third of the random rounds hit the plain header and salt of page 1.
            const int offset = round == -2 ? tableRoot : round == -1 ? lastPage
                             : round % 3 == 0 ? int(state % 24) : int(state % quint32(original.size()));
            QByteArray damaged = original;
            damaged[offset] = char(damaged.at(offset) ^ (round < 0 ? 0x40 : 1 << (state >> 29)));
            QVERIFY(TestSandbox::WriteBytes(path, damaged));
            QSqlDatabase db = Open(path, kPassword);
            QVERIFY(db.isOpen() || round >= 0);
            if (db.isOpen()) {
                ++opened;
                QSqlQuery query(db);
                query.setForwardOnly(true);
                const QVariantList rows = Column(query, sql);
                QVERIFY2(rows == QVariantList{-1} || rows == expected, qPrintable(QStringLiteral("offset %1").arg(offset)));
                QVERIFY(round != -2 || query.lastError().text().contains(QLatin1String("malformed")));
                const QVariantList check = Column(query, QStringLiteral("PRAGMA integrity_check"));
                QVERIFY(round >= 0 || check.value(0).toString() != QLatin1String("ok"));
            }
            db.close(); // the next round rewrites the file
        }
        QVERIFY(opened > 2); // damage beyond page 1 still lets the file open
    }

    // Prepared statements and their values, each run twice: the rows, or the error they fail with.
    void preparedStatements_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QVariantList>("values");
        QTest::addColumn<QVariantList>("rows"); // of the first column
        QTest::addColumn<QString>("error");
        const QString range = QStringLiteral("select UID from items where UID > ? and UID <= ? order by UID");
        const QDateTime time(QDate(2024, 1, 2), QTime(3, 4, 5), Qt::UTC);
        const QVariantList none;
        QTest::newRow("positional") << range << QVariantList{10, qlonglong(13)} << QVariantList{11, 12, 13} << "";
        QTest::newRow("up to the end") << range << QVariantList{598, 1000} << QVariantList{599, 600} << "";
        QTest::newRow("name used twice") << "select count(*) from items where (UID = :id or UID = :id + 1) and Name <> :n"
                                         << QVariantList{20, 20, "it's"} << QVariantList{2} << "";
        QTest::newRow("blob") << "select UID from items where Data = :blob and UID = :uid"
                              << QVariantList{QByteArray("abcd"), 4} << QVariantList{4} << "";
        QTest::newRow("value types") << "select quote(?) || quote(?) || quote(?) || quote(?) || quote(?) || quote(?)"
                                     << QVariantList{QVariant(), true, 7u, 1.5f, time, "ü"}
                                     << QVariantList{"NULL171.5'2024-01-02T03:04:05.000Z''ü'"} << "";
        QTest::newRow("closing semicolon") << "select 1;" << none << QVariantList{1} << "";
        QTest::newRow("too few values") << range << QVariantList{10} << none << "parameter count mismatch";
        QTest::newRow("too many values") << "select ?" << QVariantList{1, 2} << none << "parameter count mismatch";
        QTest::newRow("two statements") << "select 1; select 2" << none << none << "one statement";
        QTest::newRow("only a comment") << "-- select 1" << none << none << "empty statement";
        QTest::newRow("unknown column") << "select missing from items" << none << none << "no such column";
    }
    void preparedStatements()
    {
        QFETCH(QString, sql);
        QFETCH(QVariantList, values);
        QFETCH(QVariantList, rows);
        QFETCH(QString, error);
        QSqlDatabase db = Open(catalogue, kPassword);
        QSqlQuery query(db);
        bool ok = query.prepare(sql);
        for (const QVariant &value : values)
            query.addBindValue(value);
        for (int run = 0; run < 2; ++run) {
            QCOMPARE(ok && query.exec(), error.isEmpty());
            QVERIFY2(query.lastError().text().contains(error), qPrintable(query.lastError().text()));
            QCOMPARE(Column(query), error.isEmpty() ? rows : QVariantList{-1});
        }
    }

    // One connection queried by two threads while a third opens and closes connections
    // to the same file (shared cache) with right and wrong passwords.
    void threadsShareOneConnection()
    {
        QSqlDatabase db = Open(catalogue, kPassword);
        QVERIFY(db.isOpen());
        QAtomicInt failures;
        QAtomicInt stop;
        // Each reader gets every multiple of its number, with a name as written.
        auto reader = [&db, &failures, &stop](int modulo) {
            const QString sql =
                QStringLiteral("select UID from items where UID % %1 = 0 and Name like 'Item %' order by UID").arg(modulo);
            QVariantList expected;
            for (int uid = modulo; uid <= 600; uid += modulo)
                expected << uid;
            while (!stop.loadAcquire()) {
                QSqlQuery query(db);
                if (Column(query, sql) != expected)
                    failures.ref();
            }
        };
        QThread *opener = QThread::create([this, &failures] {
            for (int i = 0; i < 12; ++i) {
                const bool wrong = i % 3 == 2;
                QSqlDatabase other = Open(catalogue, wrong ? QStringLiteral("nope") : kPassword);
                if (other.isOpen() == wrong || (!wrong && CountItems(other) != 600))
                    failures.ref();
                other.close();
            }
        });
        const QList<QThread *> threads{QThread::create(reader, 3), QThread::create(reader, 5), opener};
        for (QThread *thread : threads)
            thread->start();
        QVERIFY(opener->wait(30000));
        stop.storeRelease(1);
        for (QThread *thread : threads) {
            QVERIFY(thread->wait(30000));
            delete thread;
        }
        QCOMPARE(failures.loadAcquire(), 0);
    }
};

QTEST_GUILESS_MAIN(TestSqlDriver)
#include "test_sqldriver.moc"
