#include "Const.h"
#include "dialogs/DlgNativeSettings.h"
#include "settings/NativeConfigLoader.h"
#include "threads/NativeHelper.h"
#include "ui_DlgNativeSettings.h"
#include "WidgetPrompts.h"

#include <QAction>
#include "ui/mainwindow/test_modal_script.h"

#include <QDesktopServices>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

using MainWindowTest::ModalScript;

namespace {

QStringList Entries(const QComboBox *box)
{
    QStringList texts;
    for (int i = 0; i < box->count(); ++i)
        texts << box->itemText(i);
    return texts;
}

void Choose(QComboBox *box, const QString &text)
{
    const int index = box->findText(text);
    QVERIFY2(index >= 0, qPrintable(text));
    box->setCurrentIndex(index);
}

void Press(DlgNativeSettings &dialog, QDialogButtonBox::StandardButton which = QDialogButtonBox::Ok)
{
    dialog.ui->buttonBox->button(which)->click();
}

const QString WriteDeniedText =
    QStringLiteral("You don't have permission to write the configuration file, do you want to get more information?");

} // namespace

class LinkCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl &url) { opened << url; }
};

class TestDlgSettings : public QObject
{
    Q_OBJECT
    LinkCatcher links;
    QTemporaryDir folder;

    QString SettingsPath() const { return folder.filePath(QStringLiteral("native-config.file")); }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QDesktopServices::setUrlHandler(QStringLiteral("https"), &links, "open");
        QDesktopServices::setUrlHandler(QStringLiteral("http"), &links, "open");
        WidgetPrompts::Install();
    }

    void init()
    {
        links.opened.clear();
        QFile::remove(SettingsPath());
    }

    void formShowsStoredValues()
    {
        NativeConfigLoader config(SettingsPath());
        {
            QWriteLocker locker(&config.lock);
            NativeConfigSettings &s = config.currentSettings;
            s.App_Close_to_tray = true;
            s.Check_NewDatabase = false;
            s.Check_NewDatabase_Minutes = 90; // not a whole listed hour
            s.Display_DefaultView = View_Details;
            s.Display_CoversView_PageCount = 210; // not listed
            s.Display_DetailsView_PageCount = 30;
            s.Advance_UseDirectGoLink = false;
        }
        DlgNativeSettings dialog;
        dialog.OnInitLocalData(&config);
        const Ui_DlgNativeSettings &ui = *dialog.ui;

        QVERIFY(!(dialog.windowFlags() & Qt::WindowContextHelpButtonHint));
        // The platform's name completes both auto-start texts.
        QCOMPARE(ui.Start_AutoStart_Help->text(), QStringLiteral("Automatically start the software when I log on to Mac"));
        QCOMPARE(ui.Start_AutoStart->text(), ui.Start_AutoStart_Help->text());
        QVERIFY(ui.Start_AutoStart->isHidden());
        QVERIFY(ui.Start_AutoMinimized->isHidden());
        QVERIFY(!ui.Start_AutoMinimized->isEnabled());
        const QList<bool> checks = {ui.App_Close_to_tray->isChecked(), ui.App_Minimize_to_tray->isChecked(),
                                    ui.Start_AutoMaximized->isChecked(), ui.Check_NewVersion->isChecked(),
                                    ui.Check_NewDatabase->isChecked(), ui.Advance_UseDirectGoLink->isChecked()};
        QCOMPARE(checks, (QList<bool>{true, false, true, true, false, false}));

        QCOMPARE(Entries(ui.Display_DefaultView), (QStringList{"Details View", "Covers View"}));
        QCOMPARE(ui.Display_DefaultView->currentIndex(), 0);
        const QStringList counts = QStringLiteral("5 10 20 30 40 50 100 150 200").split(' ');
        QCOMPARE(Entries(ui.Display_CoversView_PageCount), counts);
        QCOMPARE(Entries(ui.Display_DetailsView_PageCount), counts);
        QCOMPARE(ui.Display_CoversView_PageCount->currentText(), QStringLiteral("5"));
        QCOMPARE(ui.Display_DetailsView_PageCount->currentText(), QStringLiteral("30"));
        QCOMPARE(Entries(ui.Check_NewDatabase_Minutes), QStringLiteral("2 4 6 8 12 24 48 60 72 168").split(' '));
        QCOMPARE(ui.Check_NewDatabase_Minutes->currentText(), QStringLiteral("2"));
        QVERIFY(!ui.Check_NewDatabase_Minutes->isEnabled());

        // The two dependent controls follow their check boxes.
        ui.Check_NewDatabase->click();
        QVERIFY(ui.Check_NewDatabase_Minutes->isEnabled());
        ui.Check_NewDatabase->click();
        QVERIFY(!ui.Check_NewDatabase_Minutes->isEnabled());
        ui.Start_AutoStart->setChecked(true);
        QVERIFY(ui.Start_AutoMinimized->isEnabled());

        ui.Start_AutoStart_Help->click();
        QCOMPARE(links.opened.size(), 1);
        QVERIFY(links.opened.first().toString().startsWith(Const::HelpAutoStartUrl));
    }

    void okStoresAndSavesEveryValue()
    {
        NativeConfigLoader config(SettingsPath());
        DlgNativeSettings dialog;
        dialog.OnInitLocalData(&config);
        Choose(dialog.ui->Check_NewDatabase_Minutes, QStringLiteral("168"));
        dialog.ui->App_Minimize_to_tray->setChecked(true);
        dialog.ui->Check_NewVersion->setChecked(false);
        Choose(dialog.ui->Display_DetailsView_PageCount, QStringLiteral("150"));
        Press(dialog);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));

        // Unchanged values pass through as they were (the defaults here).
        NativeConfigSettings expected;
        expected.Check_NewDatabase_Minutes = 10080;
        expected.App_Minimize_to_tray = true;
        expected.Check_NewVersion = false;
        expected.Display_DetailsView_PageCount = 150;
        QVERIFY(config.GetCurrentSettings() == expected);
        QSettings file(SettingsPath(), QSettings::IniFormat);
        QCOMPARE(file.value(QStringLiteral("NativeConfig/Check_NewDatabase_Minutes")).toInt(), 10080);
        QCOMPARE(file.value(QStringLiteral("NativeConfig/Display_DetailsView_PageCount")).toInt(), 150);
        QCOMPARE(file.value(QStringLiteral("NativeConfig/App_Minimize_to_tray")).toBool(), true);
    }

    void changeFlags_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<QString>("choice");
        QTest::addColumn<bool>("view");
        QTest::addColumn<bool>("pages");
        QTest::addColumn<int>("minutes");
        QTest::addColumn<int>("storedCovers");
        QTest::newRow("nothing") << QString() << QString() << false << false << 120 << 100;
        QTest::newRow("hours only") << "Check_NewDatabase_Minutes" << "2" << false << false << 120 << 100;
        QTest::newRow("hours 24") << "Check_NewDatabase_Minutes" << "24" << false << false << 1440 << 100;
        QTest::newRow("view only") << "Display_DefaultView" << "Details View" << true << false << 120 << 100;
        QTest::newRow("details count") << "Display_DetailsView_PageCount" << "10" << false << true << 120 << 100;
        QTest::newRow("covers count") << "Display_CoversView_PageCount" << "200" << false << true << 120 << 100;
        // An unlisted stored count shows the first entry, which OK then stores.
        QTest::newRow("unlisted count") << QString() << QString() << false << true << 120 << 210;
    }

    void changeFlags()
    {
        QFETCH(QString, control);
        QFETCH(QString, choice);
        QFETCH(bool, view);
        QFETCH(bool, pages);
        QFETCH(int, minutes);
        QFETCH(int, storedCovers);
        NativeConfigLoader config(SettingsPath());
        config.currentSettings.Check_NewDatabase_Minutes = 150; // shows "2"
        config.currentSettings.Display_CoversView_PageCount = storedCovers;
        DlgNativeSettings dialog;
        dialog.OnInitLocalData(&config);
        if (!control.isEmpty())
            Choose(dialog.findChild<QComboBox *>(control), choice);
        Press(dialog);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(dialog.viewChanged, view);
        QCOMPARE(dialog.pageCountChanged, pages);
        QCOMPARE(config.GetCurrentSettings().Check_NewDatabase_Minutes, minutes);
        if (storedCovers == 210)
            QCOMPARE(config.GetCurrentSettings().Display_CoversView_PageCount, 5);
    }

    void cancelChangesNothing()
    {
        NativeConfigLoader config(SettingsPath());
        const NativeConfigSettings before = config.GetCurrentSettings();
        DlgNativeSettings dialog;
        dialog.OnInitLocalData(&config);
        Choose(dialog.ui->Check_NewDatabase_Minutes, QStringLiteral("168"));
        dialog.ui->App_Close_to_tray->setChecked(true);
        Press(dialog, QDialogButtonBox::Cancel);
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QVERIFY(config.GetCurrentSettings() == before);
        QVERIFY(!QFile::exists(SettingsPath()));
    }

    void failedSaveWarnsWithoutLocksAndStaysOpen()
    {
        // A folder where the file should be: not writable, even for root.
        QVERIFY(QDir(folder.path()).mkpath(QStringLiteral("native-config.file")));
        NativeConfigLoader config(SettingsPath());
        DlgNativeSettings dialog;
        dialog.OnInitLocalData(&config);
        dialog.show();
        Choose(dialog.ui->Check_NewDatabase_Minutes, QStringLiteral("168"));

        bool settingsFree = false, configFree = false;
        auto probe = [&](QWidget *box) {
            // Queued slots that read the settings run inside this box: nothing may be held.
            if ((settingsFree = config.lock.tryLockForWrite()))
                config.lock.unlock();
            if ((configFree = NativeHelper::_configLocker->tryLockForWrite()))
                NativeHelper::_configLocker->unlock();
            MainWindowTest::Answer(QMessageBox::Cancel, QStringLiteral("Info"), WriteDeniedText)(box);
        };
        ModalScript({probe}).Run([&] { Press(dialog); });
        QVERIFY(settingsFree);
        QVERIFY(configFree);
        QVERIFY(dialog.isVisible());
        QVERIFY(dialog.result() != int(QDialog::Accepted));
        QVERIFY(links.opened.isEmpty());
        // The new values stay in memory although the file could not take them.
        QCOMPARE(config.GetCurrentSettings().Check_NewDatabase_Minutes, 10080);

        // OK may be pressed again; this time the box's OK leads to the help page.
        ModalScript({MainWindowTest::Answer(QMessageBox::Ok, QStringLiteral("Info"), WriteDeniedText)}).Run([&] {
            Press(dialog);
        });
        QVERIFY(dialog.isVisible());
        QCOMPARE(links.opened.size(), 1);
        QVERIFY(links.opened.first().toString().startsWith(Const::HelpConfigFolderUrl));
        dialog.reject();
        QVERIFY(QDir(SettingsPath()).removeRecursively());
    }

    void bundlePath_data()
    {
        QTest::addColumn<QString>("executable");
        QTest::addColumn<QString>("bundle");
        QTest::newRow("bundle") << "/Applications/Tessaly.app/Contents/MacOS/Tessaly" << "/Applications/Tessaly.app";
        QTest::newRow("any case, last one") << "/x.app/Tessaly.APP/Contents/MacOS/Tessaly" << "/x.app/Tessaly.APP";
        QTest::newRow("none") << "/usr/bin/tessaly" << QString();
        QTest::newRow("at the start") << ".app/tessaly" << QString();
    }

    void bundlePath()
    {
        QFETCH(QString, executable);
        QFETCH(QString, bundle);
        QCOMPARE(DlgNativeSettings::BundlePathOf(executable), bundle);
    }
};

QTEST_MAIN(TestDlgSettings)
#include "test_dlgsettings.moc"
