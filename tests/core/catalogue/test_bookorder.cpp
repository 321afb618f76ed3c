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

    struct TestBook
    {
        qint64 uid;
        qint64 pubSeconds;
        qint64 dateSeconds;
        float price;
        float stars;
        qint64 pages;
        qint64 size;
    };

    static void AddBooks(ItemDataSaver &store, const QList<TestBook> &testBooks)
    {
        QWriteLockerExt2 token(&store.lock);
        for (const TestBook &s : testBooks) {
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

    static QList<qint64> Sort(ItemDataSaver &store, int type, bool ascending, const QList<qint64> *ids)
    {
        QList<qint64> out{-1}; // must be cleared first
        QWriteLockerExt2 token(&store.lock);
        store.SortBookIds(static_cast<ItemBookSortType>(type), ascending, ids, out, token);
        return out;
    }

    ItemDataSaver store;
    // Id 9 has no book. Every key orders the five books differently.
    const QList<qint64> ids{5, 9, 7, 1, 3, 2};

private slots:
    void initTestCase()
    {
        AddBooks(store, {
                            // uid, pub, date, price, stars, pages, size
                            {5, 500, 30, 4.0f, 4.5f, 100, 10},
                            {7, 700, 10, 1.0f, 2.0f, 300, -1},
                            {1, 100, 50, 9.0f, 5.0f, 200, 3},
                            {3, 300, 20, 2.5f, 0.0f, 50, 1000000000000LL},
                            {2, 200, 40, 7.0f, 3.0f, 400, 0},
                        });
    }

    void keyOrders_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<bool>("ascending");
        QTest::addColumn<QList<qint64>>("expected");
        QTest::newRow("event start, descending") << 1 << false << QList<qint64>{7, 5, 3, 2, 1};
        QTest::newRow("event start ignores ascending") << 1 << true << QList<qint64>{7, 5, 3, 2, 1};
        QTest::newRow("date asc") << 2 << true << QList<qint64>{7, 3, 5, 2, 1};
        QTest::newRow("date desc") << 2 << false << QList<qint64>{1, 2, 5, 3, 7};
        QTest::newRow("price asc") << 3 << true << QList<qint64>{7, 3, 5, 2, 1};
        QTest::newRow("price desc") << 3 << false << QList<qint64>{1, 2, 5, 3, 7};
        QTest::newRow("rating asc") << 4 << true << QList<qint64>{3, 7, 2, 5, 1};
        QTest::newRow("rating desc") << 4 << false << QList<qint64>{1, 5, 2, 7, 3};
        QTest::newRow("pages asc") << 5 << true << QList<qint64>{3, 5, 1, 7, 2};
        QTest::newRow("pages desc") << 5 << false << QList<qint64>{2, 7, 1, 5, 3};
        QTest::newRow("size asc, signed") << 6 << true << QList<qint64>{7, 2, 1, 5, 3};
        QTest::newRow("size desc, signed") << 6 << false << QList<qint64>{3, 5, 1, 2, 7};
        QTest::newRow("type 8 keeps input order") << 8 << true << QList<qint64>{5, 7, 1, 3, 2};
        QTest::newRow("unknown type keeps input order") << 42 << false << QList<qint64>{5, 7, 1, 3, 2};
    }
    void keyOrders()
    {
        QFETCH(int, type);
        QFETCH(bool, ascending);
        QFETCH(QList<qint64>, expected);
        QCOMPARE(Sort(store, type, ascending, &ids), expected);
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
        const char *const rows[] = {
            "1, 'a', 100, -1, 'nan', 4.5, 10, 7",
            "2, 'b', 4294967396, 4294967295, 2.5, NULL, '12', -3",
            "3, '', 300, 1, 1.0, 1, 1, 1",
            "3, 'c', 5, 5, 5, 5, 5, 5",
            "4, 'd', NULL, '20', 2.5, 'x', 12, 7",
            "0, 'zero', 1, 1, 1, 1, 1, 1",
            "5, 'e', 100, 100, -1e39, 4.5, 10, 1099511627776",
            "6, 'f', '7', 0, 1e39, -0.0, -10, 0",
            "6, 'g', 9, 9, 9, 9, 9, 9",
            "7, x'00', 1, 1, 1, 1, 1, 1",
            "8, 'h', 200, 200, 0.0, 0.0, 0, 0",
        };
        for (const char *row : rows)
            QVERIFY(q.exec(QStringLiteral("insert into published_bookinfo values (%1)").arg(QLatin1String(row))));
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
