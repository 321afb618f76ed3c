// Details pane of the current book and the book context menu.
#include "mainwindow/MainWindow.h"

#include "Const.h"
#include "CoverImageState.h"
#include "mainwindow/BookDetailsText.h"
#include "mainwindow/LabelTextFitter.h"
#include "catalogue/ItemBook.h"
#include "threads/QWriteLockerExt2.h"
#include "ui_mainwindow.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QLocale>
#include <QPixmap>
#include <cfloat>
#include <cmath>

void MainWindow::run_action_listview_item_selected(int, const QVariant &id)
{
    auto clear = [this] {
        ui->action_ShowInfo_View_Prev->setEnabled(false);
        ui->action_ShowInfo_View_Next->setEnabled(false);
        ui->action_ShowInfo_Option_GoLink->setEnabled(false);
        SetSingleInfoBookCover(Const::EmptyComparePart);
        ui->widChildBookInfo->hide();
    };
    if (id.toLongLong() <= 0) {
        clear();
        return;
    }
    ui->action_ShowInfo_View_Prev->setEnabled(viewController.HasPrevious(&pageState));
    ui->action_ShowInfo_View_Next->setEnabled(viewController.HasNext(&pageState));

    // The texts are copied under the catalogue lock; the pane keeps no book record.
    ItemBook book;
    bool found = false;
    {
        QReadLockerExt2 token(0, &folderStore.items->lock);
        if (ItemBook *record = folderStore.items->GetBook(id.toLongLong(), token)) {
            book = *record;
            found = true;
        }
    }
    if (!found) {
        clear();
        return;
    }

    // Catalogue texts are plain text, never markup.
    for (QLabel *label : {ui->lblShowBookName, ui->lblShowBookCategory, ui->lblShowBookDate,
                          ui->lblShowBookPriceOrg, ui->lblShowBookPriceCurrent, ui->lblShowBookSize})
        label->setTextFormat(Qt::PlainText);
    nameFitter->SetText(book.name);
    categoryFitter->SetText(book.catalogNames);
    if (ui->lblShowBookIntroLong->isHidden())
        ui->lblShowBookIntroLong->show();
    ui->lblShowBookIntroLong->setPlainText(book.introLong);

    if (std::fabs(book.orgPrice) < FLT_EPSILON) {
        ui->lblShowBookPriceOrg->setText(QString());
        ui->lblShowBookPriceCurrent->setText(QStringLiteral("Free "));
    } else {
        ui->lblShowBookPriceOrg->setText(book.orgPriceText);
        ui->lblShowBookPriceCurrent->setText(QStringLiteral(" Free "));
    }
    ui->lblShowBookSize->setText(FormatBookSizeText(book.pages, book.size, true));
    ui->lblShowBookDate->setText(FormatBookDatesText(book));

    const int stars = VisibleStarCount(book.stars);
    if (stars == 0) {
        ui->lblShowBookStarsAll->hide();
    } else {
        for (int i = 0; i < starLabels.size(); ++i)
            starLabels.at(i)->setVisible(i < stars);
        ui->lblShowBookStarsAll->show();
    }

    const QPixmap *icons[] = {goPixmap, infoPixmap, helpPixmap};
    ui->lblShowBookStateIcon->setPixmap(
        *icons[CheckAgeIconIndex(book.checkTimeLocal, QDateTime::currentDateTime())]);

    SetSingleInfoBookCover(book.comparePart);
    ui->action_ShowInfo_Option_GoLink->setEnabled(true);
    if (ui->widChildBookInfo->isHidden())
        ui->widChildBookInfo->show();
}

void MainWindow::run_action_listview_item_contextmenu(bool isSelected, const QPoint &point)
{
    OnShowSingleBookInfoRightMenu(true, isSelected, point);
}

void MainWindow::SetSingleInfoBookCover(const ItemComparePart &key)
{
    detailsCoverKey = key;
    // A key without both ids is answered "no cover" by the cache itself.
    QPixmap pixmap;
    const CoverImageState state =
        imageRefresher.GetCoverPixmap(key, pixmap, true, ui->lblShowBookCover->size());
    detailsCoverLoading = state.loading;
    if (state.HasImage())
        ui->lblShowBookCover->setPixmap(*state.image);
    else if (state.loading)
        ui->lblShowBookCover->setPixmap(*loadingCoverPixmap);
    else
        ui->lblShowBookCover->setPixmap(*nullCoverPixmap);
}

void MainWindow::OnShowSingleBookInfoRightMenu(bool show, bool isSelected, const QPoint &point)
{
    {
        QMutexLocker locker(&contextMenuMutex);
        ui->action_ShowInfo_Option_GoLink_ContextMenu->setEnabled(isSelected
                                                                 && ui->action_ShowInfo_Option_GoLink->isEnabled());
        ui->action_ShowInfo_Page_Prev_ContextMenu->setEnabled(ui->action_ShowInfo_Page_Prev->isEnabled());
        ui->action_ShowInfo_Page_Next_ContextMenu->setEnabled(ui->action_ShowInfo_Page_Next->isEnabled());
    }
    // Popped up after the mutex is released: a refresh finishing while the menu is open
    // updates the entries again without locking twice.
    if (show)
        bookMenu.popup(point);
}
