#include "catalogue/DatabaseHolder.h"
#include "Helper.h"
#include "catalogue/ItemBook.h"
#include "catalogue/ItemCategory.h"
#include "catalogue/ItemDataSaver.h"
#include "threads/QReadLockerExt2.h"
#include "threads/QWriteLockerExt2.h"
#include "writer/CatalogueEncrypter.h"
#include "threads/QThreadExtend.h"
#include "cipher/SqlCipherDriverRegistration.h"
#include "TestSandbox.h"

#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

#include <sqlite3.h>

namespace {

QString Recall(const QString &values)
{
    return QStringLiteral("insert into native_loadrecall values ") + values;
}

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

// Writes a plain SQLite catalogue, the three tables and then content (rows, hostile objects, an
// index), and encrypts it with the given password. An index named "damaged" gets one byte of the
// guid's key changed in its root page.
bool WriteCatalogue(const QString &path, const QStringList &content, const QByteArray &password)
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

QByteArray Password()
{
    return Helper::GetCatalogPassword().toUtf8();
}

// A small catalogue whose every value carries its tag, so a reader can tell which one it saw.
QStringList TaggedContent(const QString &tag)
{
    QStringList books;
    for (int id = 1; id <= 20; ++id)
        books << QStringLiteral("(%1, '%2 book', %1)").arg(id).arg(tag);
    return {Recall(QStringLiteral("('current_guid', '%1'), ('free_ebooks_count', '%1'), ('current_ebooks_count', 20)")
                       .arg(tag)),
            Categories(QStringLiteral("(1, 11, '%1 category'), (2, 12, '%1 category'), (3, 13, '%1 category')").arg(tag)),
            Books(books.join(QLatin1Char(',')))};
}

QStringList ConnectionsOfHolders()
{
    return QSqlDatabase::connectionNames().filter(DatabaseHolder::ConnectionNameBase);
}

// Runs one endless query on a catalogue connection.
class EndlessQueryWorker : public QThreadExtend
{
public:
    explicit EndlessQueryWorker(DatabaseHolder *holder) : holder(holder) {}
    ~EndlessQueryWorker() override { Stop(); }
    QVariant result = QStringLiteral("not run");

protected:
    void DoRun() override
    {
        result = ItemDataSaver::QuerySingleValue(
            holder, QStringLiteral("with recursive r(n) as (select 1 union all select n + 1 from r) "
                                   "select count(*) from r"));
    }

private:
    DatabaseHolder *holder;
};

} // namespace

class TestCatalogue : public QObject
{
    Q_OBJECT

    QTemporaryDir dir;
    QString fileA;
    QString fileB;
    QString fileSummary;

    QString PathOf(const QString &name) const { return dir.filePath(name); }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        RegisterSqlCipherDriver();
        QVERIFY(dir.isValid());
        fileA = PathOf(QStringLiteral("a.rfile"));
        fileB = PathOf(QStringLiteral("b.rfile"));
        QVERIFY(WriteCatalogue(fileA, TaggedContent(QStringLiteral("A")), Password()));
        QVERIFY(WriteCatalogue(fileB, TaggedContent(QStringLiteral("B")), Password()));

        // Ids 0 and 5 are no categories; for the repeated id 6 the later row wins and the earlier
        // caption leaves no trace.
        const QStringList summary{
            Recall("('current_guid', '%1'), ('free_ebooks_count', '%2'), ('current_ebooks_count', 6), "
                    "('free_ebooks_week_new', '%3'), ('free_ebooks_week_revoked', '%4%1')"),
             Categories("(1, 9, 'beta'), (2, 10, 'Alpha'), (3, 12, 'alpha'), (4, 1, 'Arts & Crafts'), (0, 50, 'zero id'), "
                        "(5, 50, NULL), (6, 30, 'Old name'), (6, 31, 'New name')"),
             Books("(5, 'Five', 5.0), (7, 'Seven', 1.5), (8, NULL, 2.0), (-1, 'Negative', 1.0), (11, 'Eleven', 0.5), "
                   "(12, '100% %2 sale', 9.0)")};
        fileSummary = PathOf(QStringLiteral("summary.rfile"));
        QVERIFY(WriteCatalogue(fileSummary, summary, Password()));
    }
    void booksAndCache()
    {
        ItemDataSaver store;
        QVERIFY(store.LoadDatabase(fileSummary));
        // Summary values with placeholders of their own come out as they are.
        QCOMPARE(store.currentGuid, QStringLiteral("%1"));
        QVERIFY2(store.statusText.startsWith(QStringLiteral("Total %2 Tessaly (%3 tessaly are new arrivals this week, "
                                                            "%4%1 books are no longer free.")),
                 qPrintable(store.statusText));
        QWriteLockerExt2 token(&store.lock);
        ItemBook *five = store.GetBook(5, token);
        QVERIFY(five && five->name == QLatin1String("Five"));
        QCOMPARE(five->comparePart, ItemComparePart(5, 1005));
        QCOMPARE(store.GetBook(5, token), five); // cached

        // Ids without a valid book: a nameless row, a missing row. Both remembered as null.
        QVERIFY(!store.GetBook(8, token) && !store.GetBook(404, token));
        QVERIFY(store.books->contains(8) && store.books->contains(404));
        QVERIFY(!store.GetBook(404, token));

        QVERIFY(!ItemDataSaver::LoadBook(nullptr, 5));
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
        auto contentRow = [](const char *name, const QStringList &sql, const QByteArray &password = Password()) {
            QTest::newRow(name) << QByteArray() << TaggedContent(QStringLiteral("X")) + sql << password;
        };
        bytesRow("missing file", QByteArray());
        bytesRow("empty file", QByteArray(""));
        bytesRow("garbage", QByteArray(good.size(), 'x'));
        bytesRow("damaged page", damaged);
        bytesRow("truncated", good.left(good.size() - good.size() / 3));
        bytesRow("plain database", QByteArray("SQLite format 3\0", 16) + QByteArray(4080, '\0'));
        contentRow("other password", {}, QByteArrayLiteral("not the key"));
        const QString endless = QStringLiteral("with recursive r(n) as (select 1 union all select n + 1 from r) ");
        contentRow("summary is an endless view",
                   {"drop table native_loadrecall",
                    "create view native_loadrecall as " + endless + "select 'current_guid' as pname, n as pvalue from r"});
        contentRow("categories are an endless view",
                   {"drop table runtime_cataloginfo",
                    "create view runtime_cataloginfo as " + endless
                        + "select n as UID, n as LID, 10 as Calc_BookCount, 'c' || n as Caption from r"});
        contentRow("books are a view", {"alter table published_bookinfo rename to books",
                                        "create view published_bookinfo as select * from books"});
        contentRow("trigger", {"create trigger touch after update on published_bookinfo begin select 1; end"});
        contentRow("virtual table", {"create virtual table search using fts5(BookName)"});
        contentRow("no guid", {"delete from native_loadrecall where pname = 'current_guid'"});
        contentRow("empty guid", {"update native_loadrecall set pvalue = NULL where pname = 'current_guid'"});
        contentRow("damaged summary index", {"create unique index damaged on native_loadrecall(pname)"});
    }
    void failedLoadKeepsCatalogue()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, content);
        QFETCH(QByteArray, password);
        const QString path = PathOf(QStringLiteral("bad_%1.rfile").arg(QTest::currentDataTag()));
        QFile::remove(path);
        if (!password.isEmpty())
            QVERIFY(WriteCatalogue(path, content, password));
        else if (!bytes.isNull())
            QVERIFY(TestSandbox::WriteBytes(path, bytes));

        ItemDataSaver store;
        QVERIFY(store.LoadDatabase(fileA));
        const QStringList before = ConnectionsOfHolders();
        QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("^SQL Error: ")));
        QVERIFY(!store.LoadDatabase(path));
        QCOMPARE(ConnectionsOfHolders(), before); // the failed registration is gone

        QWriteLockerExt2 token(&store.lock);
        QCOMPARE(store.currentGuid, QStringLiteral("A"));
        QCOMPARE(store.currentFilePath, fileA);
        QCOMPARE(store.categories->size(), 3);
        ItemBook *book = store.GetBook(17, token); // needs the old connection
        QVERIFY(book && book->name == QLatin1String("A book"));
        QCOMPARE(store.QueryBookIds(QString()).size(), 20);
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
        QElapsedTimer clock;
        clock.start();
        worker.Stop();
        QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(!worker.result.isValid());
    }

    // One thread swaps two catalogues back and forth while others read: every reader sees
    // one whole catalogue at a time.
    void swapWhileReading()
    {
        ItemDataSaver store;
        QVERIFY(store.LoadDatabase(fileA));
        QAtomicInt stop;
        QAtomicInt mixed;
        QAtomicInt reads;
        QAtomicInt swaps;

        QThread *swapper = QThread::create([&] {
            for (int i = 0; !stop.loadRelaxed(); ++i) {
                if (store.LoadDatabase(i % 2 ? fileA : fileB))
                    swaps.ref();
            }
        });
        auto reader = [&](bool useBooks) {
            return QThread::create([&, useBooks] {
                qint64 uid = 1;
                while (!stop.loadRelaxed()) {
                    const QString guid = store.GetCurrentGuid(); // under a lock of its own
                    bool ok = guid == QLatin1String("A") || guid == QLatin1String("B");
                    QWriteLockerExt2 token(&store.lock);
                    const QString tag = store.currentGuid;
                    ok = ok && store.statusText.startsWith(QStringLiteral("Total ") + tag + QLatin1Char(' '));
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
                    reads.ref();
                }
            });
        };
        const QList<QThread *> threads{swapper, reader(true), reader(false)};
        for (QThread *thread : threads)
            thread->start();
        const bool manySwaps = QTest::qWaitFor([&swaps] { return swaps.loadRelaxed() >= 40; }, 1500);
        stop.storeRelaxed(1);
        for (QThread *thread : threads) {
            QVERIFY(thread->wait(30000));
            delete thread;
        }
        QVERIFY(manySwaps || swaps.loadRelaxed() >= 2);
        QVERIFY(reads.loadRelaxed() > 0);
        QCOMPARE(mixed.loadRelaxed(), 0);
    }
};

QTEST_GUILESS_MAIN(TestCatalogue)
#include "test_catalogue.moc"
