#include "Const.h"
#include "dialogs/DlgAbout.h"

#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QtTest>

class LinkCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl &url) { opened << url; }
};

class TestDlgAbout : public QObject
{
    Q_OBJECT

    LinkCatcher links;

    // Clicks the start of a label's text, where its single link sits.
    void ClickLink(QLabel *label)
    {
        const QPoint at(label->contentsRect().left() + 4, label->height() / 2);
        QTest::mouseClick(label, Qt::LeftButton, Qt::NoModifier, at);
    }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        for (const char *scheme : {"http", "https", "mailto"}) {
            QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), &links, "open");
        }
    }

    void showsVersionLinksAndLogo()
    {
        DlgAbout dialog;
        QCOMPARE(dialog.windowTitle(), QStringLiteral("About"));
        QCOMPARE(dialog.findChild<QLabel *>(QStringLiteral("label"))->text(), QStringLiteral("Software Version:"));
        QCOMPARE(dialog.findChild<QLabel *>(QStringLiteral("label_4"))->text(), QStringLiteral("Software Website:"));
        QCOMPARE(dialog.findChild<QLabel *>(QStringLiteral("label_2"))->text(), QStringLiteral("Contact Us:"));
        QCOMPARE(dialog.findChild<QLabel *>(QStringLiteral("lblVersion"))->text(), QStringLiteral("3.3.5"));
        QVERIFY(!(dialog.windowFlags() & Qt::WindowContextHelpButtonHint));
        QVERIFY(dialog.windowFlags() & Qt::MSWindowsFixedSizeDialogHint);
        QVERIFY(dialog.findChild<QLabel *>(QStringLiteral("lblWebsite"))->text().contains(QStringLiteral(">") + Const::WebsiteUrl + QStringLiteral("</a>")));
        QVERIFY(dialog.findChild<QLabel *>(QStringLiteral("lblMailTo"))->text().contains(QStringLiteral("href='mailto:") + Const::SupportEmail + QLatin1Char('\'')));

        const QPixmap logo = dialog.findChild<QLabel *>(QStringLiteral("lblForLogo"))->pixmap(Qt::ReturnByValue);
        QVERIFY(!logo.isNull());
        QCOMPARE(logo.toImage(), QPixmap(QStringLiteral(":/local/images/logo/tessaly-logo.png")).toImage());
        QVERIFY(dialog.findChild<QLabel *>(QStringLiteral("lblForLogo"))->text().isEmpty());
    }

    void missingProductLogoFallsBackToMaker()
    {
        const QString maker = QStringLiteral(":/local/images/logo/quillory-logo.png");
        const QPixmap fallback = DlgAbout::LoadLogo(QStringLiteral(":/local/images/logo/none.png"), maker);
        QVERIFY(!fallback.isNull());
        QCOMPARE(fallback.toImage(), QPixmap(maker).toImage());
        QVERIFY(DlgAbout::LoadLogo(QString(), QStringLiteral(":/none.png")).isNull());
    }

    void linksOpenInTheDesktopAndOkCloses()
    {
        DlgAbout dialog;
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        links.opened.clear();

        ClickLink(dialog.findChild<QLabel *>(QStringLiteral("lblWebsite")));
        QTRY_COMPARE(links.opened.size(), 1);
        QCOMPARE(links.opened.at(0).toString(), QUrl(Const::SoftwareUrlWithKind).toString());
        QVERIFY(links.opened.at(0).toString().contains(QStringLiteral("kind=tessaly-mac")));

        ClickLink(dialog.findChild<QLabel *>(QStringLiteral("lblMailTo")));
        QTRY_COMPARE(links.opened.size(), 2);
        QCOMPARE(links.opened.at(1).scheme(), QStringLiteral("mailto"));
        QCOMPARE(links.opened.at(1).path(), Const::SupportEmail);

        dialog.findChild<QDialogButtonBox *>(QStringLiteral("buttonBox"))->button(QDialogButtonBox::Ok)->click();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QVERIFY(!dialog.isVisible());
    }
};

QTEST_MAIN(TestDlgAbout)
#include "test_dlgabout.moc"
