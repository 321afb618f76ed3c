#include "catalogue/ItemBook.h"
#include "catalogue/ItemDataSaver.h"
#include "catalogue/ItemSortKeys.h"
#include "threads/QWriteLockerExt2.h"

#include <QtTest>

#include <QSqlQuery>

// The orderings work on the store's book cache; the books are put there directly, so no
// catalogue file is needed. Ids without a cached book are looked up in the (unopened)
// connection and come back missing.
class TestBookOrder : public QObject
{
    Q_OBJECT

    ItemDataSaver store;
    // Id 9 has no book. Every key orders the five books differently.
    const QList<qint64> ids{5, 9, 7, 1, 3, 2};

private slots:
    void initTestCase()
    {
        const struct
        {
            qint64 uid, pubSeconds, dateSeconds;
            float price, stars;
            qint64 pages, size;
        } books[] = {{5, 500, 30, 4.0f, 4.5f, 100, 10}, {7, 700, 10, 1.0f, 2.0f, 300, -1}, {1, 100, 50, 9.0f, 5.0f, 200, 3},
                     {3, 300, 20, 2.5f, 0.0f, 50, 1000000000000LL}, {2, 200, 40, 7.0f, 3.0f, 400, 0}};
        QWriteLockerExt2 token(&store.lock);
        for (const auto &s : books) {
            auto *book = new ItemBook();
            book->uid = s.uid;
            book->name = QStringLiteral("Book %1").arg(s.uid);
            book->firstPubTime = QDateTime::fromSecsSinceEpoch(s.pubSeconds);
            book->bookDate = QDateTime::fromSecsSinceEpoch(s.dateSeconds);
            book->orgPrice = s.price;
            book->stars = s.stars;
            book->pages = s.pages;
            book->size = s.size;
            store.books->insert(s.uid, book);
        }
    }

    // Each key orders the books ascending as given and descending the other way round, unless the
    // order ignores the direction.
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
    }
    void keyOrders()
    {
        QFETCH(int, type);
        QFETCH(QList<qint64>, ascending);
        QFETCH(bool, directed);
        const QList<qint64> descending = directed ? QList<qint64>(ascending.rbegin(), ascending.rend()) : ascending;
        QWriteLockerExt2 token(&store.lock);
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
        QSqlDatabase &db = saver.database->db;
        saver.database->Register(QStringLiteral("QSQLITE"));
        db.setDatabaseName(QStringLiteral(":memory:"));
        QVERIFY(db.open());
        QSqlQuery q(db);
        QVERIFY(q.exec(QStringLiteral("create table published_bookinfo (UID, BookName, FirstPubTimeGMT, BookDate, "
                                      "OrgPrice, BookStars, BookPages, BookSize)")));
        QVERIFY(saver.sortKeys->Load(saver.database) && saver.sortKeys->Count() == 0); // no books, no keys
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
};

QTEST_GUILESS_MAIN(TestBookOrder)
#include "test_bookorder.moc"
