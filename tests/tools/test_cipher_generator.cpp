// The synthetic catalogue generator: the tables and columns the program reads, the
// edge values, consistent counts and reproducible content.
#include "writer/CatalogueGenerator.h"
#include "cipher/SqlCipherDriverRegistration.h"

#include <QCryptographicHash>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QByteArray kPassword = "generator-test";
constexpr qint64 kNow = 1764892800; // 2025-12-05 00:00 UTC
int g_connections = 0;

class Connection
{
public:
    explicit Connection(const QString &path)
        : name(QStringLiteral("generator-%1").arg(++g_connections))
    {
        RegisterSqlCipherDriver();
        db = QSqlDatabase::addDatabase(QStringLiteral("SQLITECIPHER"), name);
        db.setDatabaseName(path);
        db.setPassword(QString::fromUtf8(kPassword));
        db.open();
    }
    ~Connection()
    {
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(name);
    }
    QVariant Recall(const char *name)
    {
        return Scalar(QStringLiteral("select pvalue from native_loadrecall where pname='%1'").arg(QLatin1String(name)));
    }
    QVariant Scalar(const QString &sql)
    {
        QSqlQuery query(db);
        if (!query.exec(sql) || !query.next())
            return QVariant();
        return query.value(0);
    }
    QByteArray ContentHash(const QString &sql)
    {
        QCryptographicHash hash(QCryptographicHash::Sha256);
        QSqlQuery query(db);
        query.setForwardOnly(true);
        if (!query.exec(sql))
            return QByteArray();
        const int columns = query.record().count();
        while (query.next()) {
            for (int i = 0; i < columns; ++i) {
                const QVariant value = query.value(i);
                hash.addData(QByteArray::number(value.userType()) + ':' + value.toString().toUtf8() + '\x1f');
            }
        }
        return hash.result().toHex();
    }

    QString name;
    QSqlDatabase db;
};

CatalogueGeneratorOptions SmallOptions()
{
    CatalogueGeneratorOptions options;
    options.books = 1200;
    options.categories = 25;
    options.seed = 42;
    options.password = kPassword;
    options.nowUtc = kNow;
    return options;
}

} // namespace

class TestCipherGenerator : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir dir;
    QString catalogue;
    CatalogueGeneratorResult made;

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        catalogue = dir.filePath(QStringLiteral("small.db"));
        QString error;
        QVERIFY2(CatalogueGenerator::Generate(SmallOptions(), catalogue, &made, &error), qPrintable(error));
        QCOMPARE(made.books, 1200);
        QCOMPARE(made.categories, 25);
        QVERIFY(!made.guid.isEmpty());
        // Only the encrypted file is left behind.
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("small.db")});
    }

    void everyColumnTheProgramReads()
    {
        Connection c(catalogue);
        QVERIFY2(c.db.isOpen(), qPrintable(c.db.lastError().text()));
        const QStringList bookColumns = {
            "UID", "LID", "BookName", "OrgPrice", "BookPrice", "BookCatalog", "BookCatalogIDS", "BookAuthor",
            "BookDate", "BookPages", "BookSize", "BookStars", "BookStarsCount", "GoLink", "_TransLink", "IntroLong",
            "FirstPubTimeGMT", "LocalCompField", "_CheckTimeGMT", "_ImageCompID"};
        const QSqlRecord books = c.db.record(QStringLiteral("published_bookinfo"));
        for (const QString &column : bookColumns)
            QVERIFY2(books.contains(column), qPrintable(column));
        const QSqlRecord categories = c.db.record(QStringLiteral("runtime_cataloginfo"));
        for (const char *column : {"UID", "LID", "Calc_BookCount", "Caption"})
            QVERIFY2(categories.contains(QLatin1String(column)), column);

        QCOMPARE(c.Recall("current_guid").toString(), made.guid);
        QCOMPARE(c.Recall("free_ebooks_count"), QVariant(QStringLiteral("1200"))); // text, as published
        QCOMPARE(c.Recall("current_ebooks_count"), QVariant(qlonglong(1200)));
        QCOMPARE(c.Recall("current_time_utc"), QVariant(qlonglong(kNow)));
        QCOMPARE(c.Recall("free_ebooks_week_new").toLongLong(), made.weekNew);
        QVERIFY(made.weekNew > 0 && made.weekNew < 1200);
    }

    void valuesAreConsistentAndCoverTheEdges()
    {
        Connection c(catalogue);
        // Category counts are the real number of books carrying each token.
        QCOMPARE(c.Scalar(QStringLiteral(
                              "select count(*) from runtime_cataloginfo where Calc_BookCount <> (select count(*) "
                              "from published_bookinfo where BookCatalogIDS like '%|' || runtime_cataloginfo.UID || '|%')"))
                     .toInt(),
                 0);
        QSqlQuery tokens(c.db);
        QVERIFY(tokens.exec(QStringLiteral("select distinct BookCatalogIDS from published_bookinfo")));
        const QRegularExpression tokenForm(QStringLiteral("^\\|(\\d+\\|)+$"));
        while (tokens.next())
            QVERIFY2(tokenForm.match(tokens.value(0).toString()).hasMatch(), qPrintable(tokens.value(0).toString()));

        const qint64 sixtyDaysAgo = kNow - 60LL * 86400;
        QCOMPARE(c.Scalar(QStringLiteral("select count(*) from published_bookinfo where FirstPubTimeGMT <= %1 "
                                         "or FirstPubTimeGMT > %2")
                              .arg(sixtyDaysAgo)
                              .arg(kNow))
                     .toInt(),
                 0);
        for (const char *condition : {"BookPages = 200", "BookPages = 201", "BookPages = 400", "BookPages = 401",
                                      "BookSize = 512000", "BookSize = 512001", "BookPages is null",
                                      "BookSize is null", "BookStars is null", "OrgPrice is null", "OrgPrice = 0",
                                      "BookStars = 5", "BookStars = 4.8", "BookName like '%''%'",
                                      "IntroLong like '%100\\%%' escape '\\'"}) {
            QVERIFY2(c.Scalar(QStringLiteral("select count(*) from published_bookinfo where %1").arg(QLatin1String(condition)))
                             .toInt()
                         > 0,
                     condition);
        }
        QVERIFY(c.Scalar(QStringLiteral("select count(*) from runtime_cataloginfo where Caption like '%&%'")).toInt() > 0);
        QCOMPARE(c.Scalar(QStringLiteral("select typeof(BookStars) from published_bookinfo where BookStars is not null limit 1")),
                 QVariant(QStringLiteral("real")));
    }

    // Same seed and clock: same rows (only the guid is fresh); another seed: other rows.
    void contentIsReproducible()
    {
        const QString again = dir.filePath(QStringLiteral("again.db"));
        const QString other = dir.filePath(QStringLiteral("other.db"));
        CatalogueGeneratorResult second;
        QVERIFY(CatalogueGenerator::Generate(SmallOptions(), again, &second));
        CatalogueGeneratorOptions otherOptions = SmallOptions();
        otherOptions.seed = 43;
        QVERIFY(CatalogueGenerator::Generate(otherOptions, other));
        QVERIFY(second.guid != made.guid);
        const QString sql = QStringLiteral("select * from published_bookinfo order by UID");
        const QByteArray first = Connection(catalogue).ContentHash(sql);
        QVERIFY(!first.isEmpty());
        QCOMPARE(Connection(again).ContentHash(sql), first);
        QVERIFY(Connection(other).ContentHash(sql) != first);
    }

    void extraStatementsAndOptions()
    {
        CatalogueGeneratorOptions options;
        options.books = 0;
        options.categories = 2;
        options.password = kPassword;
        options.pageSize = 1024;
        options.guid = QStringLiteral("fixed-guid");
        options.extraSql << QStringLiteral("insert into published_bookinfo(UID, BookName, BookCatalogIDS) values(7, 'Only', '|2|')");
        const QString path = dir.filePath(QStringLiteral("extra.db"));
        CatalogueGeneratorResult result;
        QString error;
        QVERIFY2(CatalogueGenerator::Generate(options, path, &result, &error), qPrintable(error));
        QCOMPARE(result.books, 1);
        QCOMPARE(result.guid, QStringLiteral("fixed-guid"));
        Connection c(path);
        QCOMPARE(c.Scalar(QStringLiteral("select Calc_BookCount from runtime_cataloginfo where UID = 2")).toInt(), 1);
        QCOMPARE(c.Recall("current_ebooks_count").toInt(), 1);
        QCOMPARE(c.Scalar(QStringLiteral("pragma page_size")).toInt(), 1024);

        // A failing statement, or no password, leaves no file behind.
        options.extraSql << QStringLiteral("insert into nowhere values(1)");
        const QString broken = dir.filePath(QStringLiteral("broken.db"));
        QVERIFY(!CatalogueGenerator::Generate(options, broken, nullptr, &error));
        QVERIFY(error.contains(QStringLiteral("nowhere")));
        QVERIFY(!QFile::exists(broken));
        options.extraSql.clear();
        options.password.clear();
        QVERIFY(!CatalogueGenerator::Generate(options, broken, nullptr, &error));
        QVERIFY(!QFile::exists(broken));

        // Leaving the summary out.
        CatalogueGeneratorOptions bare = SmallOptions();
        bare.books = 5;
        bare.withoutLoadRecall = true;
        const QString barePath = dir.filePath(QStringLiteral("bare.db"));
        QVERIFY(CatalogueGenerator::Generate(bare, barePath));
        QVERIFY(!Connection(barePath).db.tables().contains(QStringLiteral("native_loadrecall")));
    }
};

QTEST_GUILESS_MAIN(TestCipherGenerator)
#include "test_cipher_generator.moc"
