#include "folders/FolderQuery.h"
#include "folders/FolderRangeCode.h"

#include <QtTest>

// The SQL texts of the folder queries, character for character.
class TestFolderSql : public QObject
{
    Q_OBJECT
private slots:
    void placeholderLookalikesStayLiteral_data();
    void placeholderLookalikesStayLiteral();
    void rangeCodes_data();
    void rangeCodes();
};

void TestFolderSql::placeholderLookalikesStayLiteral_data()
{
    QTest::addColumn<QString>("keyword");
    QTest::newRow("1") << QStringLiteral("1");
    QTest::newRow("2nd") << QStringLiteral("2nd");
    QTest::newRow("3D") << QStringLiteral("3D");
    QTest::newRow("a%2b") << QStringLiteral("a%2b");
    QTest::newRow("%1%2%3") << QStringLiteral("%1%2%3");
    QTest::newRow("%L1") << QStringLiteral("%L1");
}

void TestFolderSql::placeholderLookalikesStayLiteral()
{
    QFETCH(QString, keyword);
    const QString like = SqlLikeCondition(QStringLiteral("BookName"), keyword);
    QCOMPARE(like, QStringLiteral("BookName like '%") + keyword + QStringLiteral("%'"));
    const QString where = SqlJoinConditions({like}, QStringLiteral("and"), true);
    QCOMPARE(MakeSelectUidsText(QStringLiteral("published_bookinfo"), where, QStringLiteral("FirstPubTimeGMT DESC")),
             QStringLiteral("select UID from published_bookinfo where (BookName like '%") + keyword
                 + QStringLiteral("%') order by FirstPubTimeGMT DESC"));
    QCOMPARE(SqlBetweenCondition(keyword, 1, 2), keyword + QStringLiteral(">1 and ") + keyword + QStringLiteral("<=2"));
}

void TestFolderSql::rangeCodes_data()
{
    QTest::addColumn<qint64>("code");
    QTest::addColumn<QString>("condition");
    QTest::addColumn<QString>("label");
    const struct { qint64 code; const char *condition; const char *label; } rows[] = {
        {1000, "BookStars is null", "unknown value"},
        {1001, "", ""},
        {1002, "BookStars>2 and BookStars<=3", "2 - 3 Stars"},
        {1003, "BookStars>3 and BookStars<=4", "3 - 4 Stars"},
        {1004, "BookStars>4 and BookStars<=5", "4 - 5 Stars"},
        {1005, "BookStars>=5", "5 Stars"},
        {2000, "OrgPrice is null", "unknown value"},
        {2001, "OrgPrice>50", "More than $50"},
        {2002, "OrgPrice==0", "$0"},
        {2003, "OrgPrice>0 and OrgPrice<=10", "$0 - $10"},
        {2004, "OrgPrice>10 and OrgPrice<=20", "$10 - $20"},
        {2005, "OrgPrice>20 and OrgPrice<=30", "$20 - $30"},
        {2006, "OrgPrice>30 and OrgPrice<=50", "$30 - $50"},
        {3000, "BookPages is null", "unknown value"},
        {3001, "BookPages>400", "More than 400"},
        {3002, "BookPages>0 and BookPages<=10", "1 - 10"},
        {3003, "BookPages>10 and BookPages<=30", "11 - 30"},
        {3004, "BookPages>30 and BookPages<=50", "31 - 50"},
        {3005, "BookPages>50 and BookPages<=100", "51 - 100"},
        {3006, "BookPages>100 and BookPages<=200", "101 - 200"},
        {3007, "BookPages>200 and BookPages<=400", "201 - 400"},
        {4000, "BookSize is null", "unknown value"},
        {4001, "BookSize>52428800", "More than 50MB"},
        {4002, "BookSize>0 and BookSize<=512000", "< 500KB"},
        {4003, "BookSize>512000 and BookSize<=1048576", "500KB - 1MB"},
        {4004, "BookSize>1048576 and BookSize<=10485760", "1MB - 10MB"},
        {4005, "BookSize>10485760 and BookSize<=52428800", "10MB - 50MB"},
        {999, "", ""},
        {4006, "", ""},
    };
    for (const auto &row : rows)
        QTest::newRow(qPrintable(QString::number(row.code))) << row.code << QString::fromUtf8(row.condition)
                                                           << QString::fromUtf8(row.label);
}

void TestFolderSql::rangeCodes()
{
    QFETCH(qint64, code);
    QFETCH(QString, condition);
    QFETCH(QString, label);
    QCOMPARE(FolderRangeCode::Condition(code), condition);
    QCOMPARE(FolderRangeCode::Label(code), label);
    QCOMPARE(SqlRangeCondition({code}), condition.isEmpty() ? QString() : QLatin1Char('(') + condition + QLatin1Char(')'));
}

QTEST_GUILESS_MAIN(TestFolderSql)
#include "test_folder_sql.moc"
