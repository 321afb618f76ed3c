#include "catalogue/DatabaseHolder.h"
#include "Helper.h"
#include "catalogue/ItemBook.h"
#include "catalogue/ItemBookLoadCache.h"
#include "catalogue/ItemCategory.h"
#include "catalogue/ItemDataSaver.h"
#include "catalogue/ItemSortKeys.h"
#include "threads/QWriteLockerExt2.h"
#include "writer/CatalogueEncrypter.h"
#include "threads/QThreadExtend.h"
#include "cipher/SqlCipherDriverRegistration.h"
#include "TestSandbox.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <ctime>
#include <memory>

#include <sqlite3.h>

using TextField = QString ItemBook::*;
Q_DECLARE_METATYPE(TextField)

namespace {

const QString kEndless = QStringLiteral("with recursive r(n) as (select 1 union all select n + 1 from r) ");

// Categories from (UID, Calc_BookCount, Caption); the LID follows from the UID.
QString Categories(const QString &values)
{
    return QStringLiteral("insert into runtime_cataloginfo select column1, column1 * 10, column2, column3 from (values %1)")
        .arg(values);
}

// Books from (UID, BookName, OrgPrice); the other columns follow from the UID.
QString Books(const QString &values)
{
    return QStringLiteral("insert into published_bookinfo select column1, 1, column2, column3, 0, '|1|', "
                          "1700000000 + column1, column1 + 1000 from (values %1)")
        .arg(values);
}

// The book as the read of its own row and the read of every row give it; empty when either
// finds none.
QList<ItemBook> BothReads(ItemDataSaver &store, qint64 uid)
{
    QWriteLockerExt2 token(&store.lock);
    const std::unique_ptr<ItemBook> alone(ItemDataSaver::LoadBook(store.database, uid));
    store.LoadAllBooks(token);
    const ItemBook *bulk = store.books->value(uid);
    if (!alone || !bulk)
        return {};
    return {*alone, *bulk};
}

// Writes a plain SQLite catalogue, the three tables and then content (rows, hostile objects, an
// index), and encrypts it with the given password. An index named "damaged" gets one byte of the
// guid's key changed in its root page.
bool WriteCatalogue(const QString &path, const QStringList &content,
                    const QByteArray &password = Helper::GetCatalogPassword().toUtf8())
{
    const QString plainPath = path + QStringLiteral(".plain");
    const QByteArray sql =
        (QStringList{"create table native_loadrecall (pname text, pvalue)",
                     "create table runtime_cataloginfo (UID integer, LID integer, Calc_BookCount integer, Caption text)",
                     "create table published_bookinfo (UID integer, LID integer, BookName text, OrgPrice real, "
                     "BookPrice real, BookCatalogIDS text, FirstPubTimeGMT integer, _ImageCompID integer)"}
         + content)
            .join(QLatin1Char(';'))
            .toUtf8();
    sqlite3 *db = nullptr;
    sqlite3_stmt *root = nullptr;
    bool ok = sqlite3_open(QFile::encodeName(plainPath).constData(), &db) == SQLITE_OK
              && CatalogueEncrypter::PrepareEmptyDatabase(db, 4096)
              && sqlite3_exec(db, sql.constData(), nullptr, nullptr, nullptr) == SQLITE_OK
              && sqlite3_prepare_v2(db, "select rootpage - 1 from sqlite_master where name = 'damaged'", -1, &root,
                                    nullptr) == SQLITE_OK;
    const int page = ok && sqlite3_step(root) == SQLITE_ROW ? sqlite3_column_int(root, 0) : -1;
    sqlite3_finalize(root);
    sqlite3_close(db);
    if (page >= 0) {
        QByteArray bytes = TestSandbox::ReadBytes(plainPath);
        const int at = bytes.indexOf("current_guid", page * 4096);
        ok = at >= 0 && at < (page + 1) * 4096 && TestSandbox::WriteBytes(plainPath, bytes.replace(at, 1, "b"));
    }
    QString error;
    ok = ok && CatalogueEncrypter::EncryptFile(plainPath, path, password, &error);
    if (!ok)
        qWarning() << "catalogue not written:" << error;
    QFile::remove(plainPath);
    return ok;
}

// A small catalogue whose every value carries its tag, so a reader can tell which one it saw.
QStringList TaggedContent(const QString &tag)
{
    QStringList books;
    for (int id = 1; id <= 20; ++id)
        books << QStringLiteral("(%1, '%2 book', %1)").arg(id).arg(tag);
    return {QStringLiteral("insert into native_loadrecall values ('current_guid', '%1'), ('free_ebooks_count', '%1'), "
                           "('current_ebooks_count', 20)").arg(tag),
            Categories(QStringLiteral("(1, 11, '%1 category'), (2, 12, '%1 category'), (3, 13, '%1 category')").arg(tag)),
            Books(books.join(QLatin1Char(',')))};
}

// Runs one endless query on a catalogue connection.
struct EndlessQueryWorker : QThreadExtend
{
    explicit EndlessQueryWorker(DatabaseHolder *holder) : holder(holder) {}
    ~EndlessQueryWorker() override { Stop(); }
    void DoRun() override { result = ItemDataSaver::QuerySingleValue(holder, kEndless + "select count(*) from r"); }
    DatabaseHolder *holder;
    QVariant result = QStringLiteral("not run");
};

// Opens the store's connection on an in-memory book table holding the given rows, if any.
bool OpenBookTable(ItemDataSaver &saver, const QString &rows)
{
    saver.database->Register(QStringLiteral("QSQLITE"));
    QSqlDatabase &db = saver.database->db;
    db.setDatabaseName(QStringLiteral(":memory:"));
    return db.open()
           && QSqlQuery(db).exec(QStringLiteral("create table published_bookinfo (UID, BookName, FirstPubTimeGMT, "
                                                "BookDate, OrgPrice, BookStars, BookPages, BookSize)"))
           && (rows.isEmpty() || QSqlQuery(db).exec("insert into published_bookinfo values " + rows));
}

// Instants around the given zone changes, the range ends and a deterministic spread between.
QList<qint64> SampleInstants()
{
    QList<qint64> instants = {0, 1, 3599, 3600, 86399, 86400, 951782400 /* 2000-02-29 */,
                              2145916799 /* last second Qt converts through the C library */,
                              2145916800, 2147483647, 2147483648LL, 4294967295LL};
    // Europe/Berlin 2024: summer time starts 03-31 01:00 UTC, ends 10-27 01:00 UTC;
    // Australia/Lord_Howe moves by half an hour; America/St_Johns keeps a half-hour offset.
    for (const qint64 change : {1711846800, 1729990800, 1712419200, 1727539200, 1710054000, 1730613600}) {
        for (const qint64 delta : {-5400, -3600, -1801, -1800, -1, 0, 1, 1799, 1800, 3599, 3600, 5400})
            instants << change + delta;
    }
    quint64 state = 12345;
    for (int i = 0; i < 3000; ++i) {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        instants << qint64(state >> 32); // every unsigned 32-bit catalogue time is possible
    }
    return instants;
}

// The instant, local date and clock time, offset and displayed text, for comparing.
QString Describe(const QDateTime &time)
{
    return QStringLiteral("%1 %2 offset %3 \"%4\"")
        .arg(time.toMSecsSinceEpoch())
        .arg(time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")))
        .arg(time.offsetFromUtc())
        .arg(QLocale::system().toString(time, QLocale::ShortFormat));
}

} // namespace

class TestCatalogue : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QString fileA;
    QString fileB;
    QString fileSummary;
    QString longTexts;
    std::unique_ptr<ItemDataSaver> longStore;
    std::unique_ptr<ItemDataSaver> longNumbers;

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        RegisterSqlCipherDriver();
        QVERIFY(dir.isValid());
        fileA = dir.filePath(QStringLiteral("a.rfile"));
        fileB = dir.filePath(QStringLiteral("b.rfile"));
        QVERIFY(WriteCatalogue(fileA, TaggedContent(QStringLiteral("A"))));
        QVERIFY(WriteCatalogue(fileB, TaggedContent(QStringLiteral("B"))));

        // Ids 0 and 5 are no categories; for the repeated id 6 the later row wins and the earlier
        // caption leaves no trace.
        const QStringList summary{
            "insert into native_loadrecall values ('current_guid', '%1'), ('free_ebooks_count', '%2'), "
            "('current_ebooks_count', 6), ('free_ebooks_week_new', '%3'), ('free_ebooks_week_revoked', '%4%1')",
             Categories("(1, 9, 'beta'), (2, 10, 'Alpha'), (3, 12, 'alpha'), (4, 1, 'Arts & Crafts'), (0, 50, 'zero id'), "
                        "(5, 50, NULL), (6, 30, 'Old name'), (6, 31, 'New name')"),
             Books("(5, 'Five', 5.0), (7, 'Seven', 1.5), (8, NULL, 2.0), (-1, 'Negative', 1.0), (11, 'Eleven', 0.5), "
                   "(12, '100% %2 sale', 9.0)")};
        fileSummary = dir.filePath(QStringLiteral("summary.rfile"));
        QVERIFY(WriteCatalogue(fileSummary, summary));
    }
    void booksAndCache()
    {
        ItemDataSaver store;
        QVERIFY(store.LoadDatabase(fileSummary));
        // Summary values with placeholders of their own come out as they are.
        QCOMPARE(store.currentGuid, QStringLiteral("%1"));
        QCOMPARE(store.statusText, QStringLiteral("Total %2 Tessaly (%3 tessaly are new arrivals this week, "
                                                  "%4%1 books are no longer free.)"));
        // Ten books make a big category, nine do not; ordered by caption, upper case first.
        QCOMPARE(store.categories->size(), 5);
        QCOMPARE(*store.bigCategories, (ItemDataSaver::BigCategoryList{{2, "Alpha"}, {6, "New name"}, {3, "alpha"}}));
        QWriteLockerExt2 token(&store.lock);
        ItemBook *five = store.GetBook(5, token);
        QVERIFY(five && five->name == QLatin1String("Five"));
        QCOMPARE(five->comparePart, ItemComparePart(5, 1005));

        // Ids without a valid book: a nameless row, a missing row. Both remembered as null.
        QVERIFY(!store.GetBook(8, token) && !store.GetBook(404, token));
        QVERIFY(store.books->contains(8) && store.books->contains(404));

        const std::unique_ptr<ItemBook> loose(ItemDataSaver::LoadBook(store.database, 7));
        QVERIFY(loose && loose->orgPrice == 1.5f);

        // The cache is complete once it holds as many entries as the catalogue counts books.
        store.LoadAllBooks(token);
        QCOMPARE(store.books->size(), 6); // 5, 8, 404 plus 7, 11, 12
        QCOMPARE(store.GetBook(5, token), five);
        QCOMPARE(store.GetBook(12, token)->name, QStringLiteral("100% %2 sale"));

        ItemDataSaver partial;
        QVERIFY(partial.LoadDatabase(fileSummary));
        QWriteLockerExt2 partialToken(&partial.lock);
        for (qint64 missing = 1000; missing < 1006; ++missing)
            QVERIFY(!partial.GetBook(missing, partialToken));
        partial.LoadAllBooks(partialToken); // six null entries count as a full cache
        QCOMPARE(partial.books->size(), 6);
    }

    // A load that fails, for whatever reason, leaves the previous catalogue answering: files
    // that do not open, and files that open but hold SQL of their own or a summary the loader
    // cannot use.
    void failedLoadKeepsCatalogue_data()
    {
        QTest::addColumn<QByteArray>("bytes"); // written as they are unless null
        QTest::addColumn<QStringList>("content");
        QTest::addColumn<QByteArray>("password"); // no file at all when empty
        const QByteArray good = TestSandbox::ReadBytes(fileB);
        QByteArray damaged = good;
        damaged[good.size() / 2] = char(good.at(good.size() / 2) ^ 0x01);
        auto bytesRow = [](const char *name, const QByteArray &bytes) {
            QTest::newRow(name) << bytes << QStringList() << QByteArray();
        };
        auto contentRow = [](const char *name, const QStringList &sql,
                             const QByteArray &password = Helper::GetCatalogPassword().toUtf8()) {
            QTest::newRow(name) << QByteArray() << TaggedContent(QStringLiteral("X")) + sql << password;
        };
        bytesRow("missing file", QByteArray());
        bytesRow("damaged page", damaged);
        contentRow("other password", {}, QByteArrayLiteral("not the key"));
        contentRow("summary is an endless view",
                   {"drop table native_loadrecall",
                    "create view native_loadrecall as " + kEndless + "select 'current_guid' as pname, n as pvalue from r"});
        contentRow("categories are an endless view",
                   {"drop table runtime_cataloginfo",
                    "create view runtime_cataloginfo as " + kEndless
                        + "select n as UID, n as LID, 10 as Calc_BookCount, 'c' || n as Caption from r"});
        contentRow("books are a view", {"alter table published_bookinfo rename to books",
                                        "create view published_bookinfo as select * from books"});
        contentRow("trigger", {"create trigger touch after update on published_bookinfo begin select 1; end"});
        contentRow("virtual table", {"create virtual table search using fts5(BookName)"});
    }
    void failedLoadKeepsCatalogue()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, content);
        QFETCH(QByteArray, password);
        const QString path = dir.filePath(QStringLiteral("bad_%1.rfile").arg(QTest::currentDataTag()));
        if (!password.isEmpty())
            QVERIFY(WriteCatalogue(path, content, password));
        else if (!bytes.isNull())
            QVERIFY(TestSandbox::WriteBytes(path, bytes));

        ItemDataSaver store;
        QVERIFY(store.LoadDatabase(fileA));
        const QStringList before = QSqlDatabase::connectionNames().filter(DatabaseHolder::ConnectionNameBase);
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("^SQL Error: ")));
        QVERIFY(!store.LoadDatabase(path));
        // The failed registration is gone.
        QCOMPARE(QSqlDatabase::connectionNames().filter(DatabaseHolder::ConnectionNameBase), before);

        QWriteLockerExt2 token(&store.lock);
        QCOMPARE(store.currentGuid, QStringLiteral("A"));
        QCOMPARE(store.currentFilePath, fileA);
        ItemBook *book = store.GetBook(17, token); // needs the old connection
        QVERIFY(book && book->name == QLatin1String("A book"));
    }

    // Missing summary keys read as empty texts and 0 and never fail the load; a summary that
    // reads differently by name than by a full scan (a damaged index) does.
    void summaryKeys_data()
    {
        QTest::addColumn<QStringList>("sql");
        QTest::addColumn<bool>("loads");
        QTest::addColumn<QString>("guid"); // the previous catalogue's when refused
        QTest::addColumn<QString>("count");
        QTest::addColumn<qint64>("books");
        QTest::addColumn<QString>("suffix"); // the time the catalogue was made
        const auto made = [](qint64 secs) {
            return QStringList{QStringLiteral("insert into native_loadrecall values ('current_time_utc', %1)").arg(secs)};
        };
        QTest::newRow("every key") << QStringList() << true << "S" << "S" << qint64(20) << QString();
        QTest::newRow("made in 2000") << made(978307199) << true << "S" << "S" << qint64(20) << QString();
        QTest::newRow("made in 2001")
            << made(978307200) << true << "S" << "S" << qint64(20)
            << " " + QLocale::system().toString(QDateTime(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC).toLocalTime(),
                                                QLocale::ShortFormat);
        QTest::newRow("no rows") << QStringList{"delete from native_loadrecall"} << true << "" << "" << qint64(0) << QString();
        QTest::newRow("no guid row") << QStringList{"delete from native_loadrecall where pname = 'current_guid'"}
                                     << true << "" << "S" << qint64(20) << QString();
        QTest::newRow("null guid") << QStringList{"update native_loadrecall set pvalue = NULL where pname = 'current_guid'"}
                                   << true << "" << "S" << qint64(20) << QString();
        QTest::newRow("empty guid") << QStringList{"update native_loadrecall set pvalue = '' where pname = 'current_guid'"}
                                    << true << "" << "S" << qint64(20) << QString();
        QTest::newRow("damaged summary index") << QStringList{"create unique index damaged on native_loadrecall(pname)"}
                                               << false << "A" << "A" << qint64(20) << QString();
    }
    void summaryKeys()
    {
        QFETCH(QStringList, sql);
        QFETCH(bool, loads);
        QFETCH(QString, guid);
        QFETCH(QString, count);
        QFETCH(qint64, books);
        QFETCH(QString, suffix);
        const QString path = dir.filePath(QStringLiteral("summary_%1.rfile").arg(QTest::currentDataTag()));
        QVERIFY(WriteCatalogue(path, TaggedContent(QStringLiteral("S")) + sql));
        ItemDataSaver store;
        QVERIFY(store.LoadDatabase(fileA));
        if (!loads)
            QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("^SQL Error: .*reads differently")));
        QCOMPARE(store.LoadDatabase(path), loads);
        QCOMPARE(store.currentGuid, guid);
        QCOMPARE(store.knownBookCount, books);
        QCOMPARE(store.statusText, QStringLiteral("Total %1 Tessaly ( tessaly are new arrivals this week,  books are no "
                                                  "longer free.%2)").arg(count, suffix));
        QCOMPARE(store.QueryBookIds(QString()).size(), 20);
    }

    // Text fields longer than a record keeps are cut, the cut shown by an ellipsis, on every
    // read path; nothing of a huge value is kept, and the book stays a book.
    void longTextsAreCut_data()
    {
        QTest::addColumn<qint64>("uid");
        QTest::addColumn<TextField>("field");
        QTest::addColumn<int>("length");
        QTest::addColumn<bool>("cut");
        const int max = ItemBook::MaxTextLength;
        // Books 1 to 7 (each with a name), each with one long field.
        longTexts = dir.filePath(QStringLiteral("long.rfile"));
        const QString update = QStringLiteral("update published_bookinfo set %1 where UID = %2");
        QVERIFY(WriteCatalogue(
            longTexts,
            {"insert into native_loadrecall values ('current_ebooks_count', 7)",
             Books("(1, 'x', 1), (2, 'x', 2), (3, 'x', 3), (4, 'x', 4), (5, 'x', 5), (6, 'x', 6), (7, 'x', 7)"),
             "alter table published_bookinfo add column BookAuthor text",
             "alter table published_bookinfo add column IntroLong text",
             update.arg(QStringLiteral("BookName = hex(zeroblob(50000000))")).arg(1),
             update.arg(QStringLiteral("BookName = substr(hex(zeroblob(%1)), 1, %2)").arg(max).arg(max)).arg(2),
             update.arg(QStringLiteral("BookName = substr(hex(zeroblob(%1)), 1, %2)").arg(max).arg(max + 1)).arg(3),
             // A character of two UTF-16 units across the cut.
             update.arg(QStringLiteral("BookName = substr(hex(zeroblob(%1)), 1, %2) || char(128512) || 'b'")
                            .arg(max).arg(max - 2)).arg(4),
             update.arg(QStringLiteral("IntroLong = hex(zeroblob(500000))")).arg(5),
             update.arg(QStringLiteral("BookAuthor = hex(zeroblob(500000))")).arg(6),
             // The cut falls inside an id: no shortened id may come out of it.
             update.arg(QStringLiteral("BookCatalogIDS = replace(hex(zeroblob(10000)), '00', '|1234567|')")).arg(7)}));
        longStore = std::make_unique<ItemDataSaver>();
        QVERIFY(longStore->LoadDatabase(longTexts));
        QCOMPARE(longStore->sortKeys->Count(), 7);
        QTest::newRow("100 MB name") << qint64(1) << &ItemBook::name << max << true;
        QTest::newRow("name at the limit") << qint64(2) << &ItemBook::name << max << false;
        QTest::newRow("name one over") << qint64(3) << &ItemBook::name << max << true;
        QTest::newRow("pair at the cut") << qint64(4) << &ItemBook::name << max - 1 << true;
        QTest::newRow("description") << qint64(5) << &ItemBook::introLong << max << true;
        QTest::newRow("author") << qint64(6) << &ItemBook::author << max << true;
        QTest::newRow("category ids") << qint64(7) << &ItemBook::catalogIds << max << true;
    }
    void longTextsAreCut()
    {
        QFETCH(qint64, uid);
        QFETCH(TextField, field);
        QFETCH(int, length);
        QFETCH(bool, cut);
        const QList<ItemBook> books = BothReads(*longStore, uid);
        QCOMPARE(books.size(), 2);
        for (const ItemBook &book : books) {
            QCOMPARE((book.*field).size(), length);
            QCOMPARE((book.*field).endsWith(QChar(0x2026)), cut);
            QVERIFY(!(book.*field).contains(QChar(0xd83d)) || !cut); // no half character
            if (uid == 7)
                QCOMPARE(book.catalogIdList, QList<qint64>::fromVector(QVector<qint64>(ItemBook::MaxTextLength / 9, 1234567)));
        }
    }

    // Any column may hold a long text: a number column too is read only as far as a text field
    // is, so a number written with more digits than that reads as malformed (0), in the record
    // on both read paths and in the sort keys; a shorter one still converts.
    void longValuesInNumberColumns_data()
    {
        QTest::addColumn<qint64>("uid");
        QTest::addColumn<qint64>("pages");
        QTest::addColumn<qint64>("bookDateSecs");
        const QString path = dir.filePath(QStringLiteral("long-numbers.rfile"));
        const QString update = QStringLiteral("update published_bookinfo set %1 where UID = %2");
        const QString padded = QStringLiteral("replace(hex(zeroblob(%1)), '00', '0') || '%2'");
        QVERIFY(WriteCatalogue(
            path,
            {"insert into native_loadrecall values ('current_ebooks_count', 4)",
             Books("(1, 'x', 1), (2, 'x', 2), (3, 'x', 3), (4, 'x', 4)"),
             "alter table published_bookinfo add column BookPages", // no affinity: a text stays a text
             "alter table published_bookinfo add column BookDate",
             update.arg("BookPages = " + padded.arg(ItemBook::MaxTextLength + 1).arg(5)).arg(1),
             update.arg("BookPages = " + padded.arg(100).arg(5)).arg(2),
             update.arg("BookDate = " + padded.arg(ItemBook::MaxTextLength + 1).arg(1700000000)).arg(3),
             update.arg("BookDate = hex(zeroblob(50000000))").arg(4)}));
        longNumbers = std::make_unique<ItemDataSaver>();
        QVERIFY(longNumbers->LoadDatabase(path));
        QTest::newRow("pages with more digits than are read") << qint64(1) << qint64(0) << qint64(0);
        QTest::newRow("pages with 100 leading zeros") << qint64(2) << qint64(5) << qint64(0);
        QTest::newRow("date with more digits than are read") << qint64(3) << qint64(0) << qint64(0);
        QTest::newRow("100 MB date") << qint64(4) << qint64(0) << qint64(0);
    }
    void longValuesInNumberColumns()
    {
        QFETCH(qint64, uid);
        QFETCH(qint64, pages);
        QFETCH(qint64, bookDateSecs);
        const QList<ItemBook> books = BothReads(*longNumbers, uid);
        QCOMPARE(books.size(), 2);
        for (const ItemBook &book : books) {
            QCOMPARE(book.pages, pages);
            QCOMPARE(book.bookDate.toSecsSinceEpoch(), bookDateSecs);
        }
        const ItemSortKeys::Entry *keys = longNumbers->sortKeys->Find(uid);
        QVERIFY(keys);
        QCOMPARE(keys->pages, pages);
        QCOMPARE(qint64(keys->bookDateSecs), bookDateSecs);
    }

    // A worker whose query would run for ever stops as soon as it is asked to.
    void workerStopEndsAnEndlessQuery()
    {
        DatabaseHolder holder;
        QVERIFY(ItemDataSaver::OpenDatabase(&holder, fileA));
        EndlessQueryWorker worker(&holder);
        worker.StartIfNotRunning();
        QTest::qWait(200);
        QVERIFY(worker.IsRunning());
        QVERIFY(worker.StopWithin(1000));
        QVERIFY(!worker.result.isValid());
    }

    // One thread swaps two catalogues back and forth while others read: every reader sees
    // one whole catalogue at a time, and each sees the catalogue change under it several times.
    void swapWhileReading()
    {
        ItemDataSaver store;
        QVERIFY(store.LoadDatabase(fileA));
        QAtomicInt stop;
        QAtomicInt mixed;
        QAtomicInt swaps;
        QAtomicInt changesSeen[2];

        QThread *swapper = QThread::create([&] {
            for (int i = 0; !stop.loadRelaxed(); ++i) {
                if (store.LoadDatabase(i % 2 ? fileA : fileB))
                    swaps.ref();
            }
        });
        auto reader = [&](bool useBooks) {
            return QThread::create([&, useBooks] {
                qint64 uid = 1;
                QString last;
                while (!stop.loadRelaxed()) {
                    const QString guid = store.GetCurrentGuid(); // under a lock of its own
                    bool ok = guid == QLatin1String("A") || guid == QLatin1String("B");
                    QWriteLockerExt2 token(&store.lock);
                    const QString tag = store.currentGuid;
                    if (!last.isEmpty() && tag != last)
                        changesSeen[useBooks].ref();
                    last = tag;
                    ok = ok && store.statusText == QStringLiteral("Total %1 Tessaly ( tessaly are new arrivals this week,  "
                                                                  "books are no longer free.)").arg(tag);
                    for (const ItemCategory *category : qAsConst(*store.categories))
                        ok = ok && category->caption == tag + QStringLiteral(" category");
                    for (const auto &pair : qAsConst(*store.bigCategories))
                        ok = ok && pair.second == tag + QStringLiteral(" category");
                    if (useBooks) {
                        const ItemBook *book = store.GetBook(uid, token);
                        ok = ok && book && book->name == tag + QStringLiteral(" book");
                        uid = uid % 20 + 1;
                    } else {
                        ok = ok && store.QueryBookIds(QString()).size() == 20;
                    }
                    if (!ok)
                        mixed.ref();
                }
            });
        };
        const QList<QThread *> threads{swapper, reader(true), reader(false)};
        for (QThread *thread : threads)
            thread->start();
        const bool overlapped = QTest::qWaitFor([&] {
            return swaps.loadRelaxed() >= 20 && changesSeen[0].loadRelaxed() >= 3 && changesSeen[1].loadRelaxed() >= 3;
        }, 20000);
        stop.storeRelaxed(1);
        for (QThread *thread : threads) {
            QVERIFY(thread->wait(30000));
            delete thread;
        }
        QVERIFY(overlapped);
        QCOMPARE(mixed.loadRelaxed(), 0);
    }

    // Each key orders the books ascending as given and descending the other way round, unless the
    // order ignores the direction. Id 9 has no book; every key orders the five books differently,
    // and all but the rating differently than their texts would. A random order holds every book.
    void keyOrders_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QList<qint64>>("ascending");
        QTest::addColumn<bool>("directed");
        QTest::newRow("event start, newest first") << 1 << QList<qint64>{7, 5, 3, 2, 1} << false;
        QTest::newRow("date") << 2 << QList<qint64>{7, 3, 5, 2, 1} << true;
        QTest::newRow("price") << 3 << QList<qint64>{7, 3, 5, 2, 1} << true;
        QTest::newRow("rating") << 4 << QList<qint64>{3, 7, 2, 5, 1} << true;
        QTest::newRow("pages") << 5 << QList<qint64>{3, 5, 1, 7, 2} << true;
        QTest::newRow("size, signed") << 6 << QList<qint64>{7, 2, 1, 5, 3} << true;
        QTest::newRow("type 8 keeps input order") << 8 << QList<qint64>{5, 7, 1, 3, 2} << false;
        QTest::newRow("unknown type keeps input order") << 42 << QList<qint64>{5, 7, 1, 3, 2} << false;
        QTest::newRow("random, not always the input order") << 11 << QList<qint64>{5, 7, 1, 3, 2} << false;
    }
    void keyOrders()
    {
        QFETCH(int, type);
        QFETCH(QList<qint64>, ascending);
        QFETCH(bool, directed);
        const QList<qint64> descending = directed ? QList<qint64>(ascending.rbegin(), ascending.rend()) : ascending;
        const QList<qint64> ids{5, 9, 7, 1, 3, 2};
        ItemDataSaver store;
        QWriteLockerExt2 token(&store.lock);
        QVERIFY(OpenBookTable(store, "(5, 'e', 500, 30, 4.0, 4.5, 100, 10), (7, 'g', 1000, 10, 1.0, 2.0, 300, -1), "
                                     "(1, 'a', 100, 100, 19.0, 5.0, 200, 3), (2, 'b', 200, 40, 7.0, 3.0, 400, 0), "
                                     "(3, 'c', 300, 20, 2.5, 0.0, 50, 1000000000000)"));
        if (type == OrderBy_Random) {
            bool reordered = false;
            for (int i = 0; i < 10; ++i) {
                QList<qint64> out;
                store.SortBookIds(OrderBy_Random, true, &ids, out, token);
                reordered = reordered || out != ascending;
                std::sort(out.begin(), out.end());
                QCOMPARE(out, QList<qint64>({1, 2, 3, 5, 7}));
            }
            QVERIFY(reordered);
            return;
        }
        for (const bool up : {true, false}) {
            QList<qint64> out{-1}; // must be cleared first
            store.SortBookIds(static_cast<ItemBookSortType>(type), up, &ids, out, token);
            QCOMPARE(out, up ? ascending : descending);
        }
    }

    // The keys read with a catalogue order exactly as the records do: awkward stored values
    // (NULL, text, NaN, dates outside 32 bits), repeated ids, ids without a valid book, ties.
    void storedKeysOrderAsRecords_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<bool>("ascending");
        QTest::addColumn<qint64>("spread"); // dense ids, or ids too far apart for an index
        for (qint64 spread : {1, 100000})
            for (int type : {1, 2, 3, 4, 5, 6, 8})
                for (bool ascending : {false, true})
                    QTest::addRow("type %d %s, ids x%lld", type, ascending ? "asc" : "desc", spread)
                        << type << ascending << spread;
    }
    void storedKeysOrderAsRecords()
    {
        QFETCH(int, type);
        QFETCH(bool, ascending);
        QFETCH(qint64, spread);
        ItemDataSaver saver;
        QWriteLockerExt2 token(&saver.lock);
        QVERIFY(OpenBookTable(saver, QString()));
        QVERIFY(saver.sortKeys->Load(saver.database) && saver.sortKeys->Count() == 0); // no books, no keys
        QSqlQuery q(saver.database->db);
        QVERIFY(q.exec(QStringLiteral("insert into published_bookinfo values (1, 'a', 100, -1, 'nan', 4.5, 10, 7), "
                                      "(2, 'b', 4294967396, 4294967295, 2.5, NULL, '12', -3), (3, '', 300, 1, 1.0, 1, 1, 1), "
                                      "(3, 'c', 5, 5, 5, 5, 5, 5), (4, 'd', NULL, '20', 2.5, 'x', 12, 7), "
                                      "(0, 'zero', 1, 1, 1, 1, 1, 1), (5, 'e', 100, 100, -1e39, 4.5, 10, 1099511627776), "
                                      "(6, 'f', '7', 0, 1e39, -0.0, -10, 0), (6, 'g', 9, 9, 9, 9, 9, 9), "
                                      "(7, x'00', 1, 1, 1, 1, 1, 1), (8, 'h', 200, 200, 0.0, 0.0, 0, 0)")));
        QVERIFY(q.exec(QStringLiteral("update published_bookinfo set UID = UID * %1").arg(spread)));
        QVERIFY(saver.sortKeys->Load(saver.database));
        QCOMPARE(saver.sortKeys->Count(), 6); // 1, 2, 4, 5, 6 (first row) and 8
        QList<qint64> ids;
        for (qint64 id : {8, 3, 1, 9, 2, 6, 4, 0, 5, 1, 7, 4, -1})
            ids << id * spread;
        QList<qint64> byKeys;
        saver.SortBookIds(static_cast<ItemBookSortType>(type), ascending, &ids, byKeys, token);
        saver.sortKeys->Clear();
        QList<qint64> byRecords;
        saver.SortBookIds(static_cast<ItemBookSortType>(type), ascending, &ids, byRecords, token);
        QCOMPARE(byKeys, byRecords);
        QCOMPARE(byKeys.size(), 8);
    }

    void localTimes_data()
    {
        QTest::addColumn<QByteArray>("zone");
        for (const char *zone : {"UTC", "Europe/Berlin", "Australia/Lord_Howe", "America/St_Johns", "UTC-02:00"})
            QTest::newRow(zone) << QByteArray(zone); // the last a POSIX rule
    }

    // Records filled in bulk (shared values, cached conversions) equal records filled alone, and
    // their times and texts agree with Qt's own local-time conversion, also across zone changes.
    void localTimes()
    {
        QFETCH(QByteArray, zone);
        qputenv("TZ", zone);
        tzset();
        const auto restore = qScopeGuard([] { qputenv("TZ", "UTC"); tzset(); }); // the tests run with TZ=UTC
        const QLocale locale = QLocale::system();
        const QList<qint64> instants = SampleInstants();
        ItemBookLoadCache cache;
        for (int i = 0; i < instants.size(); ++i) {
            const qint64 secs = instants.at(i * 7 % instants.size());
            const qint64 wrap = (i % 3 - 1) * 4294967296LL; // stored times are unsigned 32-bit: beyond, they wrap
            const DatabaseRow row = {{"UID", qlonglong(i + 1)}, {"BookName", QStringLiteral("Book %1").arg(i)},
                {"BookAuthor", QStringLiteral("Author %1").arg(i % 3)}, {"BookCatalogIDS", QStringLiteral("|%1|40|").arg(i % 4)},
                {"BookDate", qlonglong(secs - secs % 86400 + wrap)}, {"FirstPubTimeGMT", qlonglong(secs + wrap)},
                {"_CheckTimeGMT", qlonglong(instants.at(i) - wrap)}, {"BookPages", qlonglong((i % 5 - 1) * 100)},
                {"BookSize", qlonglong(i % 6 * 700000)}, {"BookStars", i % 3 == 0 ? 0.0 : 4.5 - (i % 7) * 0.25},
                {"OrgPrice", i % 4 == 0 ? QVariant() : QVariant(i % 9 * 1.1)}};
            ItemBook single;
            ItemBook bulk;
            QVERIFY(single.LoadFromRecord(row));
            QVERIFY(bulk.LoadFromRecord(row, cache));
            const auto fields = [](const ItemBook &book) {
                return QStringList{book.author, book.catalogIds, book.bookDateText, book.firstPubText, book.pagesText,
                                   book.sizeText, book.starsText, book.orgPriceText, Describe(book.bookDate),
                                   Describe(book.firstPubTime), Describe(book.firstPubTimeLocal),
                                   Describe(book.checkTime), Describe(book.checkTimeLocal)};
            };
            QCOMPARE(fields(bulk), fields(single));
            QCOMPARE(bulk.catalogIdList, single.catalogIdList);
            QCOMPARE(bulk.comparePart, single.comparePart);
            if (i < 2)
                QCOMPARE(fields(single).mid(4, 4), (i == 0 ? QStringList{"-100 Pages", "", "", "$0.00"}
                                                           : QStringList{"", "684 KB", "4.25", "$1.10"}));

            // Texts and times as the local-time conversion gives them.
            const QDateTime localDate = QDateTime::fromSecsSinceEpoch(quint32(secs - secs % 86400), Qt::LocalTime);
            const QDateTime first = QDateTime::fromSecsSinceEpoch(quint32(secs), Qt::LocalTime);
            const QDateTime firstWall = QDateTime(first.date(), first.time(), Qt::UTC).toLocalTime();
            const QDateTime check = QDateTime::fromSecsSinceEpoch(quint32(instants.at(i)), Qt::LocalTime);
            const QDateTime checkWall = QDateTime(check.date(), check.time(), Qt::UTC).toLocalTime();
            QCOMPARE(bulk.bookDateText, locale.toString(localDate.date(), QLocale::ShortFormat));
            QCOMPARE(bulk.firstPubText, locale.toString(firstWall, QLocale::ShortFormat));
            QCOMPARE(fields(single).mid(8), (QStringList{Describe(localDate), Describe(first), Describe(firstWall),
                                                         Describe(check), Describe(checkWall)}));
        }
    }
};

QTEST_GUILESS_MAIN(TestCatalogue)
#include "test_catalogue.moc"
