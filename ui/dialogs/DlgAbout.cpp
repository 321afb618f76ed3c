#include "dialogs/DlgAbout.h"

#include "Const.h"
#include "ui_DlgAbout.h"

#include <QPixmap>

DlgAbout::DlgAbout(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui_DlgAbout)
{
    ui->setupUi(this);
    connect(ui->buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(ui->buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
    setWindowFlags((windowFlags() & ~Qt::WindowContextHelpButtonHint) | Qt::MSWindowsFixedSizeDialogHint);
    ui->lblVersion->setText(Const::FullVersion);
    ui->lblWebsite->setText(Const::WebsiteLinkHtml);
    ui->lblMailTo->setText(Const::SupportEmailLinkHtml);
    OnShowAppInfo();
}

DlgAbout::~DlgAbout()
{
    delete ui;
}

void DlgAbout::OnShowAppInfo()
{
    QString productLogo;
    if (Const::AppName == Const::ProductName) {
        productLogo = QStringLiteral(":/local/images/logo/tessaly-logo.png");
    }
    ui->lblForLogo->setPixmap(LoadLogo(productLogo, QStringLiteral(":/local/images/logo/quillory-logo.png")));
}

QPixmap DlgAbout::LoadLogo(const QString &productLogo, const QString &makerLogo)
{
    QPixmap picture;
    if (!productLogo.isEmpty()) {
        picture.load(productLogo);
    }
    if (picture.isNull()) {
        picture.load(makerLogo);
    }
    return picture;
}
