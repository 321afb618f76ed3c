#include "dialogs/DlgNativeSettings.h"

#include "Const.h"
#include "Helper.h"
#include "settings/NativeConfigLoader.h"
#include "platform/ObjectiveC.h"
#include "threads/QWriteLockerExt2.h"
#include "ui_DlgNativeSettings.h"

#include <QDebug>
#include <QSignalBlocker>

namespace {
const int PageCounts[] = {5, 10, 20, 30, 40, 50, 100, 150, 200};
const int Hours[] = {2, 4, 6, 8, 12, 24, 48, 60, 72, 168};

// Entries are plain numbers; a stored value that is not listed leaves the first entry chosen.
template <size_t N>
void FillNumbers(QComboBox *box, const int (&values)[N], int current)
{
    box->clear();
    for (const int value : values) {
        box->addItem(QString::number(value));
    }
    box->setCurrentIndex(qMax(0, box->findText(QString::number(current))));
}
} // namespace

DlgNativeSettings::DlgNativeSettings(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui_DlgNativeSettings)
{
    ui->setupUi(this);
    setWindowFlags((windowFlags() & ~Qt::WindowContextHelpButtonHint) | Qt::MSWindowsFixedSizeDialogHint);
    connect(ui->buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
    ui->Start_AutoStart->setText(ui->Start_AutoStart->text() + Const::PlatformSuffix);
    ui->Start_AutoStart_Help->setText(ui->Start_AutoStart_Help->text() + Const::PlatformSuffix);
    // Start at login is not registered with the desktop: the user gets the help page instead.
    ui->Start_AutoStart->hide();
    ui->Start_AutoMinimized->hide();
}

DlgNativeSettings::~DlgNativeSettings()
{
    delete ui;
}

void DlgNativeSettings::OnInitLocalData(NativeConfigLoader *store)
{
    config = store;
    if (!config) {
        return;
    }
    const NativeConfigSettings values = config->GetCurrentSettings();

    ui->Start_AutoStart->setChecked(values.Start_AutoStart);
    ui->Start_AutoMinimized->setChecked(values.Start_AutoMinimized);
    ui->Start_AutoMaximized->setChecked(values.Start_AutoMaximized);
    ui->Start_AutoMinimized->setEnabled(ui->Start_AutoStart->isChecked());
    ui->App_Close_to_tray->setChecked(values.App_Close_to_tray);
    ui->App_Minimize_to_tray->setChecked(values.App_Minimize_to_tray);
    ui->Check_NewVersion->setChecked(values.Check_NewVersion);
    ui->Check_NewDatabase->setChecked(values.Check_NewDatabase);
    ui->Advance_UseDirectGoLink->setChecked(values.Advance_UseDirectGoLink);

    ui->Display_DefaultView->clear();
    ui->Display_DefaultView->addItem(QStringLiteral("Details View"));
    ui->Display_DefaultView->addItem(QStringLiteral("Covers View"));
    ui->Display_DefaultView->setCurrentIndex(values.Display_DefaultView);

    FillNumbers(ui->Display_CoversView_PageCount, PageCounts, values.Display_CoversView_PageCount);
    FillNumbers(ui->Display_DetailsView_PageCount, PageCounts, values.Display_DetailsView_PageCount);
    {
        const QSignalBlocker blocker(ui->Check_NewDatabase_Minutes);
        FillNumbers(ui->Check_NewDatabase_Minutes, Hours, values.Check_NewDatabase_Minutes / 60);
    }
    ui->Check_NewDatabase_Minutes->setEnabled(ui->Check_NewDatabase->isChecked());
}

void DlgNativeSettings::on_buttonBox_accepted()
{
    if (!config) {
        return;
    }
    bool saved = false;
    {
        QWriteLockerExt2 token(&config->lock);
        NativeConfigSettings &current = config->currentSettings;
        current.Start_AutoStart = ui->Start_AutoStart->isChecked();
        current.Start_AutoMinimized = ui->Start_AutoMinimized->isChecked();
        current.Start_AutoMaximized = ui->Start_AutoMaximized->isChecked();
        current.App_Close_to_tray = ui->App_Close_to_tray->isChecked();
        current.App_Minimize_to_tray = ui->App_Minimize_to_tray->isChecked();
        current.Check_NewVersion = ui->Check_NewVersion->isChecked();
        current.Check_NewDatabase = ui->Check_NewDatabase->isChecked();
        current.Advance_UseDirectGoLink = ui->Advance_UseDirectGoLink->isChecked();

        int view = config->defaultSettings.Display_DefaultView;
        const int index = ui->Display_DefaultView->currentIndex();
        if (index == View_Details || index == View_Covers) {
            view = index;
        }
        viewChanged = view != current.Display_DefaultView;
        current.Display_DefaultView = view;

        pageCountChanged = false;
        const int covers = ui->Display_CoversView_PageCount->currentText().toInt();
        if (covers != current.Display_CoversView_PageCount) {
            pageCountChanged = true;
        }
        current.Display_CoversView_PageCount = covers;
        const int details = ui->Display_DetailsView_PageCount->currentText().toInt();
        if (details != current.Display_DetailsView_PageCount) {
            pageCountChanged = true;
        }
        current.Display_DetailsView_PageCount = details;

        current.Check_NewDatabase_Minutes = ui->Check_NewDatabase_Minutes->currentText().toInt() * 60;

        ApplyAutoStart(current.Start_AutoStart);
        saved = config->SaveToFile(token);
    }
    // The token is gone before any box: the box's event loop may run slots that read the settings.
    if (saved) {
        accept();
    } else {
        NativeConfigLoader::ShowWriteDeniedWarning(this);
    }
}

void DlgNativeSettings::on_Start_AutoStart_stateChanged(int state)
{
    Q_UNUSED(state)
    ui->Start_AutoMinimized->setEnabled(ui->Start_AutoStart->isChecked());
}

void DlgNativeSettings::on_Check_NewDatabase_clicked()
{
    ui->Check_NewDatabase_Minutes->setEnabled(ui->Check_NewDatabase->isChecked());
}

void DlgNativeSettings::on_Start_AutoStart_Help_clicked()
{
    QString link = Const::HelpAutoStartUrl;
    Helper::OpenLink(link);
}

QString DlgNativeSettings::GetAppBundlePath()
{
    return BundlePathOf(QCoreApplication::applicationFilePath());
}

QString DlgNativeSettings::BundlePathOf(const QString &executablePath)
{
    const QString suffix = QStringLiteral(".app");
    const int at = executablePath.lastIndexOf(suffix, -1, Qt::CaseInsensitive);
    if (at <= 0) {
        return QString();
    }
    return executablePath.left(at + suffix.size());
}

void DlgNativeSettings::ApplyAutoStart(bool on)
{
    const QString path = GetAppBundlePath();
    if (path.isEmpty()) {
        return;
    }
    qDebug().noquote() << QStringLiteral("Auto Start Path=") + path;
    ObjectiveC::setAutoStart(path, on);
}
