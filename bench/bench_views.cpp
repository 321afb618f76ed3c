// Times filling the covers and details views with a page of 210 books and switching views.
#include "CoverImageState.h"
#include "views/ExtendCoverView.h"
#include "catalogue/ItemBook.h"
#include "views/ViewController.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPixmap>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {
const int kPage = 210;
const int kRounds = 10;

std::vector<std::unique_ptr<ItemBook>> makeBooks()
{
    std::vector<std::unique_ptr<ItemBook>> books;
    for (int i = 1; i <= kPage; ++i) {
        auto book = std::make_unique<ItemBook>();
        book->uid = i;
        book->imageCompId = 1000 + i;
        book->comparePart = ItemComparePart(book->uid, book->imageCompId);
        book->name = QStringLiteral("A free book number %1 with a fairly long title").arg(i);
        book->author = QStringLiteral("Author %1").arg(i);
        book->catalogNames = QStringLiteral("Fiction, Science");
        book->firstPubText = QStringLiteral("2024-05-01 10:00");
        book->bookDateText = QStringLiteral("2023-01-01");
        book->orgPriceText = QStringLiteral("$9.99");
        book->starsText = QStringLiteral("4.5");
        book->pagesText = QStringLiteral("%1").arg(100 + i);
        book->sizeText = QStringLiteral("%1 KB").arg(500 + i);
        books.push_back(std::move(book));
    }
    return books;
}

// One page load as the main window does it: clear, add every book, settle the layout.
double loadPage(ViewController &controller, const std::vector<std::unique_ptr<ItemBook>> &books,
                QPixmap &cover, bool selectFirst)
{
    QElapsedTimer timer;
    timer.start();
    controller.ClearItems();
    const bool images = controller.IsImageView();
    for (int i = 0; i < kPage; ++i) {
        const CoverImageState state = !images ? CoverImageState::NoCover()
            : i % 3 == 0                     ? CoverImageState::Loading()
                                             : CoverImageState(&cover, false);
        controller.AddItem(QString::number(i + 1), books[size_t(i)].get(), state);
    }
    if (selectFirst)
        controller.SelectEdge(false);
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    // The event loop would also delete the tiles of the previous page.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return timer.nsecsElapsed() / 1e6;
}

void report(const char *what, std::vector<double> times, double target)
{
    std::sort(times.begin(), times.end());
    const double median = times[times.size() / 2];
    std::printf("%-34s median %7.2f ms  worst %7.2f ms  (target <= %.0f ms)%s\n", what, median, times.back(), target,
                median <= target ? "" : "  OVER");
}
} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? QByteArray("offscreen")
                                                                     : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    QApplication::setStyle(QStringLiteral("Fusion"));
    const auto books = makeBooks();
    QPixmap cover(218, 218);
    cover.fill(Qt::darkCyan);

    ViewController controller;
    controller.resize(1100, 700);
    controller.show();
    QCoreApplication::processEvents();

    std::vector<double> covers, details, toDetails, toCovers;
    for (int round = 0; round < kRounds; ++round) {
        controller.ApplyViewType(1);
        covers.push_back(loadPage(controller, books, cover, true));
        QElapsedTimer timer;
        timer.start();
        controller.ApplyViewType(0);
        QCoreApplication::processEvents();
        toDetails.push_back(timer.nsecsElapsed() / 1e6);
        details.push_back(loadPage(controller, books, cover, true));
        timer.restart();
        controller.ApplyViewType(1);
        QCoreApplication::processEvents();
        toCovers.push_back(timer.nsecsElapsed() / 1e6);
    }
    std::printf("%d books per page, %d rounds\n", kPage, kRounds);
    report("covers view: page of tiles", covers, 60);
    report("details view: page of rows", details, 20);
    report("switch covers -> details", toDetails, 20);
    report("switch details -> covers", toCovers, 60);
    return 0;
}
