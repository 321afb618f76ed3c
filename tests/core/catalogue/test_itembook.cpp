#include "catalogue/ItemBook.h"

#include <QtTest>

namespace {

DatabaseRow Row(const QVariant &uid, const QVariant &name, const DatabaseRow &more = {})
{
    DatabaseRow row = more;
    row.insert(QStringLiteral("UID"), uid);
    row.insert(QStringLiteral("BookName"), name);
    return row;
}

} // namespace

class TestItemBook : public QObject
{
    Q_OBJECT

private slots:
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
};

QTEST_GUILESS_MAIN(TestItemBook)
#include "test_itembook.moc"
