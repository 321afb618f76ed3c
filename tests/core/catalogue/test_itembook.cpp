#include "catalogue/ItemBook.h"
#include "catalogue/ItemCategory.h"

#include <QtTest>

#include <ctime>

namespace {

DatabaseRow Row(const QVariant &uid, const QVariant &name, const DatabaseRow &more = {})
{
    DatabaseRow row = more;
    row.insert(QStringLiteral("UID"), uid);
    row.insert(QStringLiteral("BookName"), name);
    return row;
}

// Runs the body with the process time zone set to `zone`, restoring it afterwards.
class ScopedTimeZone
{
public:
    explicit ScopedTimeZone(const char *zone) : old(qgetenv("TZ"))
    {
        qputenv("TZ", zone);
        tzset();
    }
    ~ScopedTimeZone()
    {
        qputenv("TZ", old);
        tzset();
    }

private:
    QByteArray old;
};

} // namespace

class TestItemBook : public QObject
{
    Q_OBJECT

private slots:
    void parseIdList_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QList<qint64>>("expected");
        QTest::newRow("tokens") << "|12|40|" << QList<qint64>{12, 40};
        QTest::newRow("duplicates, junk, non-positive") << "|12||12|x|-3|0|" << QList<qint64>{12, 12};
        QTest::newRow("empty") << "" << QList<qint64>{};
        QTest::newRow("no separators") << "7" << QList<qint64>{7};
        QTest::newRow("64-bit") << "|9000000000|" << QList<qint64>{9000000000LL};
    }
    void parseIdList()
    {
        QFETCH(QString, text);
        QTEST(ParseIdList(text), "expected");
    }

    void fullRow()
    {
        const DatabaseRow row = Row(qlonglong(77), QStringLiteral("Deep Waters"),
            {{"LID", qlonglong(5)}, {"OrgPrice", 12.99}, {"BookPrice", 0.0}, {"BookCatalog", "Sea|Travel"},
             {"BookCatalogIDS", "|12|40|"}, {"BookAuthor", "A. Writer"}, {"BookDate", qlonglong(1600000000)},
             {"BookPages", qlonglong(350)}, {"BookSize", qlonglong(2097152)}, {"BookStars", 4.5},
             {"BookStarsCount", qlonglong(31)}, {"GoLink", "https://store.example/b/77"},
             {"_TransLink", "https://store.example/t/77"}, {"IntroLong", "A story."},
             {"FirstPubTimeGMT", qlonglong(1700000000)}, {"LocalCompField", qlonglong(3)},
             {"_CheckTimeGMT", qlonglong(1700003600)}, {"_ImageCompID", qlonglong(4242)}});
        ItemBook book;
        QVERIFY(book.LoadFromRecord(row));
        QCOMPARE(book.uid, qint64(77));
        QCOMPARE(book.orgPrice, 12.99f);
        QCOMPARE(book.catalogIdList, (QList<qint64>{12, 40}));
        QCOMPARE(book.bookDate.toSecsSinceEpoch(), qint64(1600000000));
        QCOMPARE(book.firstPubTime.toSecsSinceEpoch(), qint64(1700000000));
        QCOMPARE(book.checkTime.toSecsSinceEpoch(), qint64(1700003600));
        QCOMPARE(book.pagesText + '|' + book.sizeText + '|' + book.starsText + '|' + book.orgPriceText,
                 QStringLiteral("350 Pages|2.00 MB|4.5|$12.99"));
        QCOMPARE(book.comparePart, ItemComparePart(77, 4242));
        // Under UTC the re-read wall-clock time is the same instant.
        QCOMPARE(book.firstPubTimeLocal.toSecsSinceEpoch(), qint64(1700000000));
        QCOMPARE(book.firstPubText, QLocale::system().toString(book.firstPubTimeLocal, QLocale::ShortFormat));
    }

    void minimalRowReadsAsZeroes()
    {
        ItemBook book;
        QVERIFY(book.LoadFromRecord(Row(qlonglong(1), QStringLiteral("Only a name"))));
        QCOMPARE(book.pages + book.size, qint64(0));
        QCOMPARE(book.bookDate.toSecsSinceEpoch() + book.firstPubTime.toSecsSinceEpoch() + book.checkTime.toSecsSinceEpoch(),
                 qint64(0));
        QCOMPARE(book.bookDateText, QLocale::system().toString(QDate(1970, 1, 1), QLocale::ShortFormat));
        QCOMPARE(book.pagesText + book.sizeText + book.starsText, QString());
        QCOMPARE(book.orgPriceText, QStringLiteral("$0.00"));
        QCOMPARE(book.comparePart, ItemComparePart(1, 0));
    }

    // Dates are unsigned 32-bit seconds: larger or negative values wrap.
    void datesAreUnsigned32Bit_data()
    {
        QTest::addColumn<qlonglong>("stored");
        QTest::addColumn<qint64>("seconds");
        QTest::newRow("in range") << 1700000000LL << qint64(1700000000);
        QTest::newRow("negative") << -1LL << qint64(4294967295LL);
        QTest::newRow("past 32 bits") << 4294967296LL + 100 << qint64(100);
        QTest::newRow("top bit set") << 3000000000LL << qint64(3000000000LL);
    }
    void datesAreUnsigned32Bit()
    {
        QFETCH(qlonglong, stored);
        QFETCH(qint64, seconds);
        ItemBook book;
        QVERIFY(book.LoadFromRecord(Row(qlonglong(3), QStringLiteral("n"),
            {{"BookDate", stored}, {"FirstPubTimeGMT", stored}, {"_CheckTimeGMT", stored}})));
        QCOMPARE(book.bookDate.toSecsSinceEpoch(), seconds);
        QCOMPARE(book.firstPubTime.toSecsSinceEpoch(), seconds);
        QCOMPARE(book.checkTime.toSecsSinceEpoch(), seconds);
    }

    void invalidRows_data()
    {
        QTest::addColumn<QVariant>("uid");
        QTest::addColumn<QVariant>("name");
        QTest::newRow("uid 0") << QVariant(qlonglong(0)) << QVariant(QStringLiteral("x"));
        QTest::newRow("negative uid") << QVariant(qlonglong(-4)) << QVariant(QStringLiteral("x"));
        QTest::newRow("empty name") << QVariant(qlonglong(3)) << QVariant(QString());
        QTest::newRow("uid not a number") << QVariant(QStringLiteral("abc")) << QVariant(QStringLiteral("x"));
    }
    void invalidRows()
    {
        QFETCH(QVariant, uid);
        QFETCH(QVariant, name);
        ItemBook book;
        QVERIFY(!book.LoadFromRecord(Row(uid, name, {{"_ImageCompID", qlonglong(9)}})));
        QVERIFY(book.comparePart.IsEmpty());
    }

    void displayTexts_data()
    {
        QTest::addColumn<qlonglong>("pages");
        QTest::addColumn<double>("stars");
        QTest::addColumn<double>("price");
        QTest::addColumn<QString>("texts"); // pages|stars|price
        QTest::newRow("whole stars") << 1LL << 5.0 << 9.5 << "1 Pages|5|$9.50";
        QTest::newRow("fractional stars") << -2LL << 3.75 << 0.004 << "-2 Pages|3.75|$0.00";
        QTest::newRow("tiny stars are none") << 0LL << 1e-8 << 100.0 << "||$100.00";
        QTest::newRow("negative stars") << 0LL << -1.5 << 0.0 << "|-1.5|$0.00";
    }
    void displayTexts()
    {
        QFETCH(qlonglong, pages);
        QFETCH(double, stars);
        QFETCH(double, price);
        ItemBook book;
        QVERIFY(book.LoadFromRecord(Row(qlonglong(8), QStringLiteral("n"),
            {{"BookPages", pages}, {"BookStars", stars}, {"OrgPrice", price}})));
        QTEST(book.pagesText + '|' + book.starsText + '|' + book.orgPriceText, "texts");
    }

    // The catalogue writes event times as UTC wall-clock values read in local time; away from
    // UTC the derived local time moves by the zone offset.
    void wallClockTimesAwayFromUtc()
    {
        ScopedTimeZone zone("UTC-02:00"); // two hours east of UTC
        ItemBook book;
        QVERIFY(book.LoadFromRecord(Row(qlonglong(2), QStringLiteral("n"),
            {{"FirstPubTimeGMT", qlonglong(1700000000)}, {"_CheckTimeGMT", qlonglong(1700000000)}})));
        QCOMPARE(book.firstPubTime.toSecsSinceEpoch(), qint64(1700000000));
        QCOMPARE(book.firstPubTimeLocal.toSecsSinceEpoch(), qint64(1700000000 + 7200));
        QCOMPARE(book.checkTimeLocal.toSecsSinceEpoch(), qint64(1700000000 + 7200));
    }

    void categoryCaptions_data()
    {
        QTest::addColumn<QString>("caption");
        QTest::addColumn<qlonglong>("count");
        QTest::addColumn<QString>("escaped");
        QTest::addColumn<QString>("plain");
        QTest::newRow("one") << "Arts & Crafts" << 1LL << "Arts && Crafts (1 Book)" << "Arts & Crafts (1 Book)";
        QTest::newRow("none") << "Arts & Crafts" << 0LL << "Arts && Crafts (0 Books)" << "Arts & Crafts (0 Books)";
        QTest::newRow("two") << "Arts & Crafts" << 2LL << "Arts && Crafts (2 Books)" << "Arts & Crafts (2 Books)";
        QTest::newRow("negative") << "X" << -1LL << "X (-1 Books)" << "X (-1 Books)";
        QTest::newRow("placeholder stays") << "Sale %2 %1" << 3LL << "Sale %2 %1 (3 Books)" << "Sale %2 %1 (3 Books)";
    }
    void categoryCaptions()
    {
        QFETCH(QString, caption);
        QFETCH(qlonglong, count);
        ItemCategory category;
        QVERIFY(category.LoadFromRecord({{"UID", qlonglong(4)}, {"Caption", caption}, {"Calc_BookCount", count}}));
        QTEST(category.displayCaption, "escaped");
        QTEST(category.MakeCategoryCaption(false), "plain");
    }
};

QTEST_GUILESS_MAIN(TestItemBook)
#include "test_itembook.moc"
