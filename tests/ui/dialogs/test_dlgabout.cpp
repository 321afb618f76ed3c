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
        for (const char *scheme : {"http", "https", "mailto"})
            QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), &links, "open");
    }

    void showsVersionLinksAndLogo()
    {
        DlgAbout dialog;
        QCOMPARE(dialog.windowTitle(), QStringLiteral("About"));
        const auto label = [&dialog](const char *name) { return dialog.findChild<QLabel *>(QLatin1String(name)); };
        for (const auto &shown : {std::make_pair("label", "Software Version:"), std::make_pair("label_4", "Software Website:"),
                                  std::make_pair("label_2", "Contact Us:"), std::make_pair("lblVersion", "3.3.5")})
            QCOMPARE(label(shown.first)->text(), QString::fromLatin1(shown.second));
        QVERIFY(!(dialog.windowFlags() & Qt::WindowContextHelpButtonHint));
        QVERIFY(dialog.windowFlags() & Qt::MSWindowsFixedSizeDialogHint);
        QVERIFY(label("lblWebsite")->text().contains(">" + Const::WebsiteUrl + "</a>"));
        QVERIFY(label("lblMailTo")->text().contains("href='mailto:" + Const::SupportEmail + "'"));

        const QPixmap logo = label("lblForLogo")->pixmap(Qt::ReturnByValue);
        QVERIFY(!logo.isNull());
        QCOMPARE(logo.toImage(), QPixmap(QStringLiteral(":/local/images/logo/tessaly-logo.png")).toImage());
        QVERIFY(label("lblForLogo")->text().isEmpty());

        // A missing product logo falls back to the maker's.
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
