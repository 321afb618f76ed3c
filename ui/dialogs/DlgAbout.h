#pragma once

#include <QDialog>

class QPixmap;
class QString;
class Ui_DlgAbout;

// The About box: logo, version, web-site and support links. Changes nothing.
class DlgAbout : public QDialog
{
    Q_OBJECT

public:
    explicit DlgAbout(QWidget *parent = nullptr);
    ~DlgAbout() override;

    // Shows the product logo, or the maker's when the product's is missing.
    void OnShowAppInfo();
    // The first of the two images that loads; null when neither does.
    static QPixmap LoadLogo(const QString &productLogo, const QString &makerLogo);

    Ui_DlgAbout *ui = nullptr;
};
