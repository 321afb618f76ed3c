#pragma once

#include <QDialog>

class NativeConfigLoader;
class Ui_DlgNativeSettings;

// The settings dialog: shows the settings store's values and on OK writes them back and saves
// the settings file; stays open when the file cannot be written.
class DlgNativeSettings : public QDialog
{
    Q_OBJECT

public:
    explicit DlgNativeSettings(QWidget *parent = nullptr);
    ~DlgNativeSettings() override;

    // Fills the controls from a copy of the store's current values.
    void OnInitLocalData(NativeConfigLoader *config);

    // The ".app" bundle around the running executable; empty when there is none.
    static QString GetAppBundlePath();
    // The same for a given executable path.
    static QString BundlePathOf(const QString &executablePath);
    static void ApplyAutoStart(bool on);

    Ui_DlgNativeSettings *ui = nullptr;
    NativeConfigLoader *config = nullptr;
    // Read by the caller after acceptance.
    bool viewChanged = false;
    bool pageCountChanged = false;

private slots:
    void on_buttonBox_accepted();
    void on_Start_AutoStart_stateChanged(int state);
    void on_Check_NewDatabase_clicked();
    void on_Start_AutoStart_Help_clicked();
};
