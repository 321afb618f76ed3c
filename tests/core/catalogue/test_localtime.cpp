#include "catalogue/ItemBook.h"
#include "catalogue/ItemBookLoadCache.h"
#include "catalogue/LocalTimeConverter.h"

#include <QtTest>

#include <ctime>

namespace {

// Sets the process time zone for a scope; the tests run with TZ=UTC.
struct ScopedTimeZone
{
    explicit ScopedTimeZone(const QByteArray &zone) { qputenv("TZ", zone); tzset(); }
    ~ScopedTimeZone() { qputenv("TZ", "UTC"); tzset(); }
};

// Instants around the given zone changes, the range ends and a deterministic spread between.
QList<qint64> SampleInstants()
{
    QList<qint64> instants = {0, 1, 3599, 3600, 86399, 86400, 951782400 /* 2000-02-29 */,
                              2145916799 /* last second Qt converts through the C library */,
                              2145916800, 2147483647, 2147483648LL, 4294967295LL};
    // Europe/Berlin 2024: summer time starts 03-31 01:00 UTC, ends 10-27 01:00 UTC;
    // Australia/Lord_Howe moves by half an hour; America/St_Johns keeps a half-hour offset.
    const qint64 changes[] = {1711846800, 1729990800, 1712419200, 1727539200, 1710054000, 1730613600};
    for (const qint64 change : changes) {
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

class TestLocalTime : public QObject
{
    Q_OBJECT

private slots:
    void matchesQtConversion_data()
    {
        QTest::addColumn<QByteArray>("zone");
        QTest::newRow("UTC") << QByteArray("UTC");
        QTest::newRow("Berlin") << QByteArray("Europe/Berlin");
        QTest::newRow("Lord Howe") << QByteArray("Australia/Lord_Howe");
        QTest::newRow("St Johns") << QByteArray("America/St_Johns");
        QTest::newRow("POSIX rule") << QByteArray("UTC-02:00");
    }

    // The converter agrees with Qt's own local-time conversion, also across zone changes. Records
    // filled in bulk (shared values, cached conversions) equal records filled alone, and both
    // equal what Qt's local time gives.
    void matchesQtConversion()
    {
        QFETCH(QByteArray, zone);
        ScopedTimeZone scoped(zone);
        const QLocale locale = QLocale::system();
        const LocalTimeConverter converter;
        const QList<qint64> instants = SampleInstants();
        for (const qint64 secs : instants) {
            const QDateTime expected = QDateTime::fromSecsSinceEpoch(secs, Qt::UTC).toLocalTime();
            const QDateTime local = converter.FromSecsSinceEpoch(secs);
            QCOMPARE(Describe(local), Describe(expected));
            // The wall clock shown, taken as UTC and converted to local time.
            const QDateTime expectedWall = QDateTime(expected.date(), expected.time(), Qt::UTC).toLocalTime();
            QCOMPARE(Describe(converter.WallClockAsUtcToLocal(local)), Describe(expectedWall));
            QCOMPARE(converter.ShortText(local), locale.toString(expected, QLocale::ShortFormat));
        }
        QVERIFY(converter.WallClockAsUtcToLocal(QDateTime()).isNull());

        ItemBookLoadCache cache;
        for (int i = 0; i < 400; ++i) {
            const qint64 secs = instants.at(i * 7 % instants.size());
            const qint64 wrap = (i % 3 - 1) * 4294967296LL; // stored times are unsigned 32-bit: beyond, they wrap
            const DatabaseRow row = {{"UID", qlonglong(i + 1)}, {"BookName", QStringLiteral("Book %1").arg(i)},
                {"BookAuthor", QStringLiteral("Author %1").arg(i % 3)}, {"BookCatalogIDS", QStringLiteral("|%1|40|").arg(i % 4)},
                {"BookDate", qlonglong(secs - secs % 86400 + wrap)}, {"FirstPubTimeGMT", qlonglong(secs + wrap)},
                {"_CheckTimeGMT", qlonglong(instants.at(i) - wrap)}, {"BookPages", qlonglong(i % 5 * 100)},
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

QTEST_GUILESS_MAIN(TestLocalTime)
#include "test_localtime.moc"
