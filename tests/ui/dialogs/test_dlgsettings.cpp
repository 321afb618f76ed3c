#include "TestLinkCatcher.h"
#include "Const.h"
#include "dialogs/DlgNativeSettings.h"
#include "settings/NativeConfigLoader.h"
#include "threads/NativeHelper.h"
#include "ui_DlgNativeSettings.h"
#include "WidgetPrompts.h"

#include <QAction>
#include "ui/mainwindow/test_modal_script.h"

#include <QDesktopServices>
#include <QTemporaryDir>
#include <QtTest>

using MainWindowTest::ModalScript;

namespace {

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

class TestDlgSettings : public QObject
{
    Q_OBJECT
    TestLinkCatcher links;
    QTemporaryDir folder;

    QString SettingsPath() const { return folder.filePath(QStringLiteral("native-config.file")); }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        links.Install();
        WidgetPrompts::Install();
    }

    void init()
    {
        links.opened.clear();
        QFile::remove(SettingsPath());
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
};

QTEST_MAIN(TestDlgSettings)
#include "test_dlgsettings.moc"
