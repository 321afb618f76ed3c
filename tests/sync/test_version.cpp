// Version answers: parsing, comparison with our own version and safe display.
#include "VersionNumberHelper.h"

#include <QtTest>

class TestVersion : public QObject
{
    Q_OBJECT
private slots:
    void parseAndCompare_data();
    void parseAndCompare();
    void displayTextIsPlainAndBounded();
};

void TestVersion::parseAndCompare_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("parsed");
    QTest::addColumn<bool>("newer");

    QTest::newRow("patch above") << "3.3.6" << "3.3.6" << true;
    QTest::newRow("equal") << "3.3.5" << "3.3.5" << false;
    QTest::newRow("older") << "3.3.4" << "3.3.4" << false;
    QTest::newRow("fourth part ignored") << "3.3.5.9" << "3.3.5" << false;
    QTest::newRow("four parts, minor above") << "3.4.0.1" << "3.4.0" << true;
    QTest::newRow("two parts") << "4.0" << "" << false;
    QTest::newRow("five parts") << "3.3.6.1.2" << "" << false;
    QTest::newRow("word in the middle") << "3.x.6" << "3.0.6" << false;
    QTest::newRow("empty") << "" << "" << false;
    QTest::newRow("empty parts") << ".." << "0.0.0" << false;
    QTest::newRow("html page") << "<html><body>Not found</body></html>" << "" << false;
}

void TestVersion::parseAndCompare()
{
    QFETCH(QString, answer);
    QFETCH(QString, parsed);
    QFETCH(bool, newer);

    const QVersionNumber v = ParseVersionNumber(answer);
    QCOMPARE(v.toString(), parsed);
    QCOMPARE(QVersionNumber::compare(v, QVersionNumber(3, 3, 5)) > 0, newer);
}

void TestVersion::displayTextIsPlainAndBounded()
{
    // A trailing line break from the service does not spoil the version.
    QCOMPARE(BoundedVersionText(QStringLiteral("3.3.6\r\n")), QStringLiteral("3.3.6"));
    QCOMPARE(ParseVersionNumber(BoundedVersionText(QStringLiteral(" 3.3.6\n"))),
             QVersionNumber(3, 3, 6));

    // Markup is shown as text.
    const QString markup = QStringLiteral("<a href='x'>9</a>");
    QCOMPARE(EscapedVersionText(markup), QStringLiteral("&lt;a href=&#39;x&#39;&gt;9&lt;/a&gt;"));
    QVERIFY(!EscapedVersionText(QStringLiteral("<b>3.4.0</b>")).contains(QLatin1Char('<')));

    // A huge answer is cut to a short text.
    const QString huge(1 << 20, QLatin1Char('9'));
    QCOMPARE(BoundedVersionText(huge).size(), MaxVersionTextLength);
    QCOMPARE(BoundedVersionText(QStringLiteral("\x01\x02\t")), QString());

    // A cut never splits a surrogate pair.
    QString emoji = QString(MaxVersionTextLength - 1, QLatin1Char('1')) + QString::fromUtf8("\xF0\x9F\x98\x80");
    const QString cut = BoundedVersionText(emoji);
    QCOMPARE(cut.size(), MaxVersionTextLength - 1);
    QVERIFY(!cut.at(cut.size() - 1).isSurrogate());
}

QTEST_GUILESS_MAIN(TestVersion)
#include "test_version.moc"
