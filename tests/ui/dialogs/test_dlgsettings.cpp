#include "Const.h"
#include "dialogs/DlgNativeSettings.h"
#include "settings/NativeConfigLoader.h"
#include "threads/NativeHelper.h"
#include "WidgetPrompts.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QDesktopServices>
#include <QMessageBox>
#include <QReadWriteLock>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <functional>

namespace {
// Answers the message box that becomes the active modal widget; the check runs inside its loop.
class BoxAnswerer : public QObject
{
public:
    BoxAnswerer(QMessageBox::StandardButton reply, std::function<void(QMessageBox *)> check = {})
        : reply(reply)
        , check(std::move(check))
    {
        connect(&timer, &QTimer::timeout, this, [this]() {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box || !box->isVisible()) {
                return;
            }
            seen << box->windowTitle() + QLatin1Char('|') + box->text();
            if (this->check) {
                this->check(box);
            }
            box->button(this->reply)->click();
        });
        timer.start(10);
    }

    QStringList seen;

private:
    QMessageBox::StandardButton reply;
    std::function<void(QMessageBox *)> check;
    QTimer timer;
};

// The dialog's controls by their object names.
struct Form
{
    explicit Form(QDialog &dialog)
        : dialog(dialog)
    {
    }
    template <typename W>
    W *get(const char *name) const
    {
        W *widget = dialog.findChild<W *>(QLatin1String(name));
        if (!widget) {
            qFatal("missing control %s", name);
        }
        return widget;
    }
    QCheckBox *check(const char *name) const { return get<QCheckBox>(name); }
    QComboBox *combo(const char *name) const { return get<QComboBox>(name); }
    QDialog &dialog;
};

QStringList Entries(const QComboBox *box)
{
    QStringList texts;
    for (int i = 0; i < box->count(); ++i) {
        texts << box->itemText(i);
    }
    return texts;
}

void Choose(QComboBox *box, const QString &text)
{
    const int index = box->findText(text);
    QVERIFY2(index >= 0, qPrintable(text));
    box->setCurrentIndex(index);
}

void PressButton(DlgNativeSettings &dialog, QDialogButtonBox::StandardButton which)
{
    Form(dialog).get<QDialogButtonBox>("buttonBox")->button(which)->click();
}

void PressOk(DlgNativeSettings &dialog)
{
    PressButton(dialog, QDialogButtonBox::Ok);
}
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

    static void Set(NativeConfigLoader &config, const std::function<void(NativeConfigSettings &)> &change)
    {
        QWriteLocker locker(&config.lock);
        change(config.currentSettings);
    }

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
        Set(config, [](NativeConfigSettings &s) {
            s.Start_AutoStart = false;
            s.App_Close_to_tray = true;
            s.Check_NewDatabase = false;
            s.Check_NewDatabase_Minutes = 90; // not a whole listed hour
            s.Display_DefaultView = View_Details;
            s.Display_CoversView_PageCount = 210; // not listed
            s.Display_DetailsView_PageCount = 30;
            s.Advance_UseDirectGoLink = false;
        });
        DlgNativeSettings dialog;
        dialog.OnInitLocalData(&config);
        const Form ui(dialog);

        QCOMPARE(dialog.windowTitle(), QStringLiteral("Settings"));
        QVERIFY(!(dialog.windowFlags() & Qt::WindowContextHelpButtonHint));
        QCOMPARE(ui.get<QPushButton>("Start_AutoStart_Help")->text(), QStringLiteral("Automatically start the software when I log on to Mac"));
        QCOMPARE(ui.check("Start_AutoStart")->text(), ui.get<QPushButton>("Start_AutoStart_Help")->text());
        QCOMPARE(ui.check("Start_AutoMinimized")->text(), QStringLiteral("--> start the software minimized"));
        const QStringList texts = {ui.get<QGroupBox>("groupBox")->title(), ui.check("App_Minimize_to_tray")->text(),
                                   ui.check("App_Close_to_tray")->text(), ui.check("Start_AutoMaximized")->text(),
                                   ui.check("Check_NewVersion")->text(), ui.check("Check_NewDatabase")->text(),
                                   ui.get<QLabel>("label_2")->text(), ui.check("Advance_UseDirectGoLink")->text(),
                                   ui.get<QGroupBox>("groupBox_2")->title(), ui.get<QLabel>("label")->text(),
                                   ui.get<QLabel>("label_3")->text(), ui.get<QLabel>("label_6")->text()};
        QCOMPARE(texts, (QStringList{QStringLiteral("General"), QStringLiteral("Minimize software to tray"),
                                     QStringLiteral("Close software to tray"), QStringLiteral("Start the software maximized"),
                                     QStringLiteral("Automatically check for new version"),
                                     QStringLiteral("Automatically check for book database every"), QStringLiteral("hours"),
                                     QStringLiteral("Directly link to the purchase site"), QStringLiteral("Display"),
                                     QStringLiteral("Default View:"), QStringLiteral("Covers View: Number of items per page:"),
                                     QStringLiteral("Details View: Number of items per page:")}));
        QVERIFY(ui.check("Start_AutoStart")->isHidden());
        QVERIFY(ui.check("Start_AutoMinimized")->isHidden());
        QVERIFY(!ui.check("Start_AutoMinimized")->isEnabled());

        QVERIFY(ui.check("App_Close_to_tray")->isChecked());
        QVERIFY(!ui.check("App_Minimize_to_tray")->isChecked());
        QVERIFY(ui.check("Start_AutoMaximized")->isChecked());
        QVERIFY(ui.check("Check_NewVersion")->isChecked());
        QVERIFY(!ui.check("Check_NewDatabase")->isChecked());
        QVERIFY(!ui.check("Advance_UseDirectGoLink")->isChecked());

        QCOMPARE(Entries(ui.combo("Display_DefaultView")), (QStringList{QStringLiteral("Details View"), QStringLiteral("Covers View")}));
        QCOMPARE(ui.combo("Display_DefaultView")->currentIndex(), 0);
        const QStringList counts = QStringLiteral("5 10 20 30 40 50 100 150 200").split(QLatin1Char(' '));
        QCOMPARE(Entries(ui.combo("Display_CoversView_PageCount")), counts);
        QCOMPARE(Entries(ui.combo("Display_DetailsView_PageCount")), counts);
        QCOMPARE(ui.combo("Display_CoversView_PageCount")->currentText(), QStringLiteral("5"));
        QCOMPARE(ui.combo("Display_DetailsView_PageCount")->currentText(), QStringLiteral("30"));
        QCOMPARE(Entries(ui.combo("Check_NewDatabase_Minutes")), QStringLiteral("2 4 6 8 12 24 48 60 72 168").split(QLatin1Char(' ')));
        QCOMPARE(ui.combo("Check_NewDatabase_Minutes")->currentText(), QStringLiteral("2"));
        QVERIFY(!ui.combo("Check_NewDatabase_Minutes")->isEnabled());

        // The two dependent controls follow their check boxes.
        ui.check("Check_NewDatabase")->click();
        QVERIFY(ui.combo("Check_NewDatabase_Minutes")->isEnabled());
        ui.check("Check_NewDatabase")->click();
        QVERIFY(!ui.combo("Check_NewDatabase_Minutes")->isEnabled());
        ui.check("Start_AutoStart")->setChecked(true);
        QVERIFY(ui.check("Start_AutoMinimized")->isEnabled());

        ui.get<QPushButton>("Start_AutoStart_Help")->click();
        QCOMPARE(links.opened.size(), 1);
        QVERIFY(links.opened.first().toString().startsWith(Const::HelpAutoStartUrl));
    }

    void okStoresAndSavesEveryValue()
    {
        NativeConfigLoader config(SettingsPath());
        DlgNativeSettings dialog;
        dialog.OnInitLocalData(&config);
        const Form ui(dialog);
        Choose(ui.combo("Check_NewDatabase_Minutes"), QStringLiteral("168"));
        ui.check("App_Minimize_to_tray")->setChecked(true);
        ui.check("Check_NewVersion")->setChecked(false);
        Choose(ui.combo("Display_DetailsView_PageCount"), QStringLiteral("150"));
        PressOk(dialog);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));

        const NativeConfigSettings stored = config.GetCurrentSettings();
        QCOMPARE(stored.Check_NewDatabase_Minutes, 10080);
        QVERIFY(stored.App_Minimize_to_tray);
        QVERIFY(!stored.Check_NewVersion);
        QCOMPARE(stored.Display_DetailsView_PageCount, 150);
        // Unchanged values pass through as they were (the defaults here).
        QCOMPARE(stored.Display_CoversView_PageCount, 100);
        QCOMPARE(stored.Display_DefaultView, int(View_Covers));
        QVERIFY(stored.Advance_UseDirectGoLink);

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
        QTest::newRow("hours only") << QStringLiteral("Check_NewDatabase_Minutes") << QStringLiteral("2") << false << false << 120 << 100;
        QTest::newRow("hours 24") << QStringLiteral("Check_NewDatabase_Minutes") << QStringLiteral("24") << false << false << 1440 << 100;
        QTest::newRow("view only") << QStringLiteral("Display_DefaultView") << QStringLiteral("Details View") << true << false << 120 << 100;
        QTest::newRow("details count") << QStringLiteral("Display_DetailsView_PageCount") << QStringLiteral("10") << false << true << 120 << 100;
        QTest::newRow("covers count") << QStringLiteral("Display_CoversView_PageCount") << QStringLiteral("200") << false << true << 120 << 100;
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
        Set(config, [storedCovers](NativeConfigSettings &s) {
            s.Check_NewDatabase_Minutes = 150; // shows "2"
            s.Display_CoversView_PageCount = storedCovers;
        });
        DlgNativeSettings dialog;
        dialog.OnInitLocalData(&config);
        if (!control.isEmpty()) {
            Choose(dialog.findChild<QComboBox *>(control), choice);
        }
        PressOk(dialog);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(dialog.viewChanged, view);
        QCOMPARE(dialog.pageCountChanged, pages);
        QCOMPARE(config.GetCurrentSettings().Check_NewDatabase_Minutes, minutes);
        if (storedCovers == 210) {
            QCOMPARE(config.GetCurrentSettings().Display_CoversView_PageCount, 5);
        }
    }

    void cancelChangesNothing()
    {
        NativeConfigLoader config(SettingsPath());
        const NativeConfigSettings before = config.GetCurrentSettings();
        DlgNativeSettings dialog;
        dialog.OnInitLocalData(&config);
        Choose(Form(dialog).combo("Check_NewDatabase_Minutes"), QStringLiteral("168"));
        Form(dialog).check("App_Close_to_tray")->setChecked(true);
        PressButton(dialog, QDialogButtonBox::Cancel);
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
        Choose(Form(dialog).combo("Check_NewDatabase_Minutes"), QStringLiteral("168"));

        bool settingsFree = false;
        bool configFree = false;
        auto probe = [&](QMessageBox *) {
            // Queued slots that read the settings run inside this box: nothing may be held.
            settingsFree = config.lock.tryLockForWrite();
            if (settingsFree) {
                config.lock.unlock();
            }
            configFree = NativeHelper::_configLocker->tryLockForWrite();
            if (configFree) {
                NativeHelper::_configLocker->unlock();
            }
        };
        {
            BoxAnswerer answerer(QMessageBox::Cancel, probe);
            PressOk(dialog);
            QCOMPARE(answerer.seen, QStringList{QStringLiteral("Info|You don't have permission to write the configuration file, do you want to get more information?")});
        }
        QVERIFY(settingsFree);
        QVERIFY(configFree);
        QVERIFY(dialog.isVisible());
        QVERIFY(dialog.result() != int(QDialog::Accepted));
        QVERIFY(links.opened.isEmpty());
        // The new values stay in memory although the file could not take them.
        QCOMPARE(config.GetCurrentSettings().Check_NewDatabase_Minutes, 10080);

        // OK may be pressed again; this time the box's OK leads to the help page.
        {
            BoxAnswerer answerer(QMessageBox::Ok);
            PressOk(dialog);
            QCOMPARE(answerer.seen.size(), 1);
        }
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
        QTest::newRow("bundle") << QStringLiteral("/Applications/Tessaly.app/Contents/MacOS/Tessaly") << QStringLiteral("/Applications/Tessaly.app");
        QTest::newRow("any case, last one") << QStringLiteral("/x.app/Tessaly.APP/Contents/MacOS/Tessaly") << QStringLiteral("/x.app/Tessaly.APP");
        QTest::newRow("none") << QStringLiteral("/usr/bin/tessaly") << QString();
        QTest::newRow("at the start") << QStringLiteral(".app/tessaly") << QString();
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
