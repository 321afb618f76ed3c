// Responsiveness of the real main window (offscreen) on large catalogues.
//
// Usage: bench_responsiveness [books ...]   (100000 when none; e.g. 10000 100000 1000000)
//
// Every size runs in a child process of its own, so each has its own peak memory. A timer ticks
// every 5 ms on the GUI thread; for each operation the table shows the longest gap between two
// ticks (how long the window could not answer), the operation's wall time, that time (for the
// folder computation: ComputeAll's own time, against a scan of a catalogue not cached yet, as
// after a swap) as a multiple of one full scan of the books table measured in the same run, and
// the peak resident memory during it. With sizes ten times apart it prints the growth of each operation's time.
// The last line counts the targets met.
#include "BenchMemory.h"
#include "CatalogueSlots.h"
#include "Const.h"
#include "Helper.h"
#include "TestHttpServer.h"
#include "UserDataRefresher.h"
#include "UserImageRefresher.h"
#include "catalogue/DatabaseHolder.h"
#include "catalogue/ItemBook.h"
#include "cipher/SqlCipherDriverRegistration.h"
#include "dialogs/DlgAddCategory.h"
#include "dialogs/DlgAddFilter.h"
#include "dialogs/QCheckBoxWithTag.h"
#include "folders/DisplayDataSaver.h"
#include "folders/DisplayFolder.h"
#include "folders/DisplayFolderType.h"
#include "folders/DisplayFolderRefresher.h"
#include "folders/DisplayPageState.h"
#include "mainwindow/MainWindow.h"
#include "views/TreeController.h"
#include "views/TreeControllerImpls.h"
#include "views/ViewController.h"
#include "writer/CatalogueGenerator.h"

#include <QAbstractButton>
#include <QApplication>
#include <QBuffer>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QStandardItemModel>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace {

QTextStream out(stdout);

const char *const kChildFlag = "--one-size";

// The operations in the order they are run and printed.
enum Op {
    OpSortAll,
    OpSwapSorted,
    OpComputeAfterSwap,
    OpCoverPages,
    OpSaveFolders,
    OpFilterFolder,
    OpClearAndRefresh,
    OpAddFilter,
    OpSearch,
    OpDeleteFolder,
    OpDropFolder,
    OpAddCategory,
    OpClearDuringDownload,
    OpCount
};
const char *const kOpNames[OpCount] = {
    "first non-stored sort of All",
    "swap in a refreshed catalogue, All sorted",
    "compute all folders after the swap",
    "page switch, covers view, covers cached",
    "save the folders file from a command",
    "filter folder (~30% of the books)",
    "Clear All Cache during a refresh",
    "Add Filter (keyword and a range)",
    "Search",
    "delete a folder",
    "re-order folders by drag and drop",
    "Add Category (40 categories)",
    "Clear All Cache while a catalogue downloads",
};

struct Result
{
    double gapMs = -1;
    double wallMs = -1;
    double medianMs = -1; // page switches only
    double workMs = -1;   // a worker's own time, where the operation has one
    double coldScanMs = -1; // the scan it compares with, where not the warm one
    double peakMiB = -1;
    QString note;
};

using BenchMemory::MemoryKiB;
using BenchMemory::ResetPeakMemory;

double Median(std::vector<double> values)
{
    if (values.empty())
        return -1;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// The longest time the GUI thread did not get to a 5 ms timer.
class GapMeter : public QObject
{
public:
    GapMeter()
    {
        timer.setInterval(5);
        timer.setTimerType(Qt::PreciseTimer);
        connect(&timer, &QTimer::timeout, this, [this] { Tick(); });
        clock.start();
        timer.start();
    }
    void Restart()
    {
        last = clock.nsecsElapsed();
        longest = 0;
    }
    double LongestMs()
    {
        Tick();
        return double(longest) / 1e6;
    }

private:
    void Tick()
    {
        const qint64 now = clock.nsecsElapsed();
        longest = qMax(longest, now - last);
        last = now;
    }
    QTimer timer;
    QElapsedTimer clock;
    qint64 last = 0;
    qint64 longest = 0;
};

// The objects given to deleteLater: the application's own event loop deletes them as it goes,
// but processEvents() called outside any exec() never does. Left alone they would all go at the
// next nested loop (a dialog's), which would then stall for the whole backlog.
void DeleteLaterObjects()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// Spins the event loop until done() or the limit; false on time-out.
bool SpinUntil(const std::function<bool()> &done, qint64 limitMs, const std::function<void()> &every = {})
{
    QElapsedTimer clock;
    clock.start();
    qint64 nextActivity = 0;
    while (!done()) {
        if (clock.elapsed() > limitMs)
            return false;
        if (every && clock.elapsed() >= nextActivity) {
            every();
            nextActivity = clock.elapsed() + 50;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        DeleteLaterObjects();
    }
    return true;
}

QAction *Action(MainWindow &window, const char *name)
{
    return window.findChild<QAction *>(QLatin1String(name));
}

bool MainAreaEnabled(MainWindow &window)
{
    QWidget *area = window.findChild<QWidget *>(QStringLiteral("MainContainer"));
    return area && area->isEnabled();
}

QByteArray MakeCover(int seed)
{
    QImage image(300, 450, QImage::Format_RGB32);
    image.fill(QColor::fromHsv(seed * 37 % 360, 160, 200));
    QPainter painter(&image);
    for (int i = 0; i < 10; ++i)
        painter.fillRect((seed * 13 + i * 29) % 280, (seed * 7 + i * 41) % 430, 20 + i * 15, 10 + i * 9,
                         QColor::fromHsv((seed + i * 50) % 360, 150, 220));
    painter.end();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG", 80);
    return bytes;
}

// One full scan of the books table through the window's connection (a LIKE that matches
// nothing): the median of five, the page cache warm.
double FullScanMs(MainWindow &window)
{
    ItemDataSaver *items = window.folders().items;
    QReadLocker locker(&items->lock);
    std::vector<double> times;
    for (int i = 0; i < 5; ++i) {
        QElapsedTimer clock;
        clock.start();
        ItemDataSaver::QuerySingleValue(
            items->database,
            QStringLiteral("select count(*) from %1 where BookName like '%qzqzq%'").arg(Const::TablePublishedBookInfo));
        times.push_back(double(clock.nsecsElapsed()) / 1e6);
    }
    return Median(times);
}

// One full scan of a catalogue nobody has open yet, its page cache empty: the state in which
// the folders are computed after a swap.
double ColdScanMs(const QString &path)
{
    DatabaseHolder holder;
    if (!ItemDataSaver::OpenDatabase(&holder, path))
        return -1;
    QElapsedTimer clock;
    clock.start();
    ItemDataSaver::QuerySingleValue(
        &holder,
        QStringLiteral("select count(*) from %1 where BookName like '%qzqzq%'").arg(Const::TablePublishedBookInfo));
    return double(clock.nsecsElapsed()) / 1e6;
}

// Runs one operation: start on the GUI thread, then the event loop until done, paging the list
// every 50 ms meanwhile when asked (a user keeps using the window).
Result Measure(GapMeter &gaps, const std::function<void()> &start, const std::function<bool()> &done,
               const std::function<void()> &activity = {}, qint64 limitMs = 600000)
{
    Result result;
    QCoreApplication::processEvents();
    DeleteLaterObjects();
    ResetPeakMemory();
    QElapsedTimer clock;
    gaps.Restart();
    clock.start();
    start();
    if (!SpinUntil(done, limitMs, activity))
        result.note = QStringLiteral("timed out");
    result.wallMs = double(clock.nsecsElapsed()) / 1e6;
    result.gapMs = gaps.LongestMs();
    result.peakMiB = MemoryKiB("VmHWM:") / 1024.0;
    return result;
}

// Answers, in order, the modal windows that a command opens, each from its own event loop (the
// command's call returns only when they are closed).
class ModalSteps : public QObject
{
public:
    using Step = std::function<void(QWidget *)>;
    explicit ModalSteps(QList<Step> steps) : steps(std::move(steps))
    {
        connect(&timer, &QTimer::timeout, this, [this] {
            QWidget *modal = QApplication::activeModalWidget();
            if (!modal || !modal->isVisible() || seen.contains(modal) || this->steps.isEmpty())
                return;
            seen << modal;
            QTimer::singleShot(0, modal, [step = this->steps.takeFirst(), modal] { step(modal); });
        });
        timer.start(5);
    }

private:
    QList<Step> steps;
    QList<QPointer<QWidget>> seen;
    QTimer timer;
};

void ClickButton(QWidget *dialog, QDialogButtonBox::StandardButton which)
{
    if (auto *box = dialog->findChild<QDialogButtonBox *>())
        box->button(which)->click();
}

ModalSteps::Step Answer(QMessageBox::StandardButton button)
{
    return [button](QWidget *widget) {
        if (auto *box = qobject_cast<QMessageBox *>(widget))
            box->button(button)->click();
    };
}

// The filter dialog with a book-name keyword and, when given, one range box checked.
ModalSteps::Step FillFilter(const QString &keyword, qint64 ratingCode)
{
    return [keyword, ratingCode](QWidget *widget) {
        auto *dialog = qobject_cast<DlgAddFilter *>(widget);
        if (!dialog)
            return;
        dialog->creator.bookNameEdit->setText(keyword);
        if (QCheckBoxWithTag *box = AddFilterCreator::FindTagBox(dialog->creator.ratingRow, ratingCode))
            box->setChecked(true);
        ClickButton(dialog, QDialogButtonBox::Ok);
    };
}

// The page is painted before the command counts as done.
void Paint(MainWindow &window)
{
    QCoreApplication::sendPostedEvents();
    window.repaint();
}

void Report(Op op, const Result &r)
{
    out << "ROW|" << op << '|' << r.gapMs << '|' << r.wallMs << '|' << r.medianMs << '|' << r.peakMiB << '|'
        << r.note << '|' << r.workMs << '|' << r.coldScanMs << '\n';
    out.flush();
}

// Two catalogues of the size: the one in place at start and a refreshed one.
bool MakeCatalogues(int books, const QString &first, const QString &refreshed)
{
    CatalogueGeneratorOptions options;
    options.books = books;
    options.categories = 40;
    options.password = Helper::GetCatalogPassword().toUtf8();
    QString error;
    if (!CatalogueGenerator::Generate(options, first, nullptr, &error)) {
        out << "cannot make the catalogue: " << error << '\n';
        return false;
    }
    options.seed = 2;
    if (!CatalogueGenerator::Generate(options, refreshed, nullptr, &error)) {
        out << "cannot make the refreshed catalogue: " << error << '\n';
        return false;
    }
    return true;
}

int RunOneSize(const QString &firstPath, const QString &refreshedPath)
{
    QTemporaryDir home;
    if (!home.isValid())
        return 1;
    qputenv("HOME", home.path().toUtf8());
    QStandardPaths::setTestModeEnabled(true);
    Const::SetServiceRootsForTesting(QStringLiteral("http://127.0.0.1:9"), QStringLiteral("http://127.0.0.1:9"),
                                     QString());
    // The catalogue sits in its slot, as after an earlier download.
    const QString slotPath = CatalogueSlots::MakeCatalogueFileName(0);
    if (slotPath.isEmpty() || !QFile::rename(firstPath, slotPath) || !CatalogueSlots::WritePreFile(0)) {
        out << "ERROR|cannot place the catalogue\n";
        return 1;
    }
    ResetPeakMemory();

    GapMeter gaps;
    MainWindow window(nullptr, true);
    window.show();
    if (!SpinUntil([&window] { return window.views().GetCount() > 0 && MainAreaEnabled(window); }, 1800000)) {
        out << "ERROR|the first page never showed\n";
        return 1;
    }
    double startPeak = MemoryKiB("VmHWM:") / 1024.0;
    auto saved = [&window] { return window.folders().foldersWriter.IsIdle(); };
    // Categories and filters as a user has them: every category (added by the command, every
    // box checked), ten filters.
    Result addCategory = Measure(
        gaps,
        [&window] {
            ModalSteps steps({[](QWidget *widget) {
                if (!qobject_cast<DlgAddCategory *>(widget))
                    return;
                for (QCheckBox *box : widget->findChildren<QCheckBox *>())
                    box->setChecked(true);
                ClickButton(widget, QDialogButtonBox::Ok);
            }});
            Action(window, "action_Add_Category")->trigger();
            Paint(window);
        },
        saved);
    addCategory.note = QStringLiteral("%1 folders").arg(window.tree().model->rowCount());
    Report(OpAddCategory, addCategory);
    {
        QWriteLockerExt2 token(&window.folders().lock);
        for (int i = 0; i < 10; ++i) {
            auto *folder = new DisplayFolder();
            folder->type = FilterFolder;
            folder->caption = QStringLiteral("Filter %1").arg(i);
            folder->search.findName << QStringLiteral("%1").arg(QChar(QLatin1Char('a' + i)));
            folder->search.findUserRating << 1000 + (i % 6);
            window.folders().AddFolder(folder, token);
        }
    }
    window.OnLoadDisplayFolders();
    QCoreApplication::processEvents();
    const double scanMs = FullScanMs(window);
    const double coldScanMs = ColdScanMs(refreshedPath);
    out << "SCAN|" << scanMs << '|' << coldScanMs << '\n';

    auto page = [&window](int i) {
        if (i % 2 == 0)
            window.on_action_ShowInfo_Page_Next_triggered();
        else
            window.on_action_ShowInfo_Page_First_triggered();
    };
    int activityStep = 0;
    auto activity = [&page, &activityStep] { page(activityStep++); };

    // 1. The first order of "All" that is not the stored one.
    // Timed until the page is painted, as the user sees it.
    Result sortAll = Measure(
        gaps,
        [&window] {
            Action(window, "action_ShowInfo_OrderBy_BookPages")->trigger();
            QCoreApplication::sendPostedEvents();
            window.repaint();
        },
        [&window] { return window.views().GetCount() > 0; });
    Report(OpSortAll, sortAll);

    // 2. A refreshed catalogue is swapped in while "All" is sorted; the list then shows it again
    // from a new sort, as after a refresh.
    std::unique_ptr<QThread> worker;
    Result swap = Measure(
        gaps,
        [&window, &worker, &refreshedPath] {
            worker.reset(QThread::create([&window, refreshedPath] { window.folders().items->LoadDatabase(refreshedPath); }));
            worker->start();
        },
        [&window, &worker] {
            if (!worker->isFinished())
                return false;
            window.OnLoadListViewData(window.CurrentFolderId(), true, false);
            return true;
        },
        activity);
    Report(OpSwapSorted, swap);

    // 3. Every folder computed for the new catalogue (as the refresher does after a swap), then
    // the tree and the list refreshed.
    qint64 computeNs = 0;
    Result compute = Measure(
        gaps,
        [&window, &worker, &computeNs] {
            worker.reset(QThread::create([&window, &computeNs] {
                QElapsedTimer clock;
                clock.start();
                window.folders().ComputeAll();
                computeNs = clock.nsecsElapsed();
            }));
            worker->start();
        },
        [&window, &worker] {
            if (!worker->isFinished())
                return false;
            window.tree().RefreshFolderItems();
            window.OnLoadListViewData(window.CurrentFolderId(), true, false);
            return true;
        },
        activity);
    compute.workMs = double(computeNs) / 1e6;
    // Computed on the swapped-in catalogue, whose pages are not cached yet: compared with a
    // scan in the same state.
    compute.note = QStringLiteral("ComputeAll %1 ms = %2 cold scans of %3 ms")
                       .arg(compute.workMs, 0, 'f', 1)
                       .arg(coldScanMs > 0 ? compute.workMs / coldScanMs : -1.0, 0, 'f', 1)
                       .arg(coldScanMs, 0, 'f', 1);
    compute.coldScanMs = coldScanMs;
    Report(OpComputeAfterSwap, compute);
    worker.reset();

    // 4. Page switches in the covers view with every cover of the pages cached.
    window.ChangeBookShowView(Action(window, "action_ShowInfo_View_Covers"), true, true);
    QCoreApplication::processEvents();
    {
        QList<qint64> ids;
        {
            QReadLockerExt2 token(0, &window.folders().lock);
            if (DisplayFolder *all = window.folders().FindFolder(window.CurrentFolderId().toUuid(), token))
                ids = all->sortedBookIds.mid(0, window.page().GetPageSize() * 2);
        }
        QWriteLockerExt2 token(&window.folders().items->lock);
        int seed = 0;
        for (qint64 id : qAsConst(ids)) {
            const ItemBook *book = window.folders().items->GetBook(id, token);
            if (!book)
                continue;
            const QString path = window.images().GetImageFilePath(book->comparePart);
            QDir().mkpath(QFileInfo(path).absolutePath());
            QFile file(path);
            if (file.open(QIODevice::WriteOnly))
                file.write(MakeCover(seed++));
        }
    }
    window.on_action_ShowInfo_Page_First_triggered();
    QCoreApplication::processEvents();
    std::vector<double> switches;
    Result covers = Measure(
        gaps,
        [&window, &switches] {
            for (int i = 0; i < 20; ++i) {
                QElapsedTimer one;
                one.start();
                if (i % 2 == 0)
                    window.on_action_ShowInfo_Page_Next_triggered();
                else
                    window.on_action_ShowInfo_Page_First_triggered();
                QCoreApplication::sendPostedEvents();
                window.repaint();
                switches.push_back(double(one.nsecsElapsed()) / 1e6);
                QCoreApplication::processEvents();
                DeleteLaterObjects();
            }
        },
        [] { return true; });
    covers.medianMs = Median(switches);
    covers.wallMs = covers.medianMs;
    covers.note = QStringLiteral("%1 books a page").arg(window.page().GetPageSize());
    Report(OpCoverPages, covers);
    window.ChangeBookShowView(Action(window, "action_ShowInfo_View_Details"), true, false);

    // 5. The folders file saved from a command (the tree re-ordered).
    // Wall time until the file is written; the GUI thread only hands the folders over.
    Result save = Measure(gaps, [&window] { window.run_action_treeview_item_sorted(); },
                          [&window] { return window.folders().foldersWriter.IsIdle(); });
    Report(OpSaveFolders, save);

    // 6. A filter folder of about 30% of the books (rated 4 to 5 stars): computed by the dialog's
    // worker, then stored, saved and shown.
    auto filter = std::make_unique<DisplayFolder>();
    filter->uid = QUuid::createUuid();
    filter->type = FilterFolder;
    filter->caption = QStringLiteral("Rated 4 to 5");
    filter->search.findUserRating << 1004;
    DisplayFolderRefresher refresher;
    Result filtered = Measure(
        gaps,
        [&refresher, &window, &filter] {
            refresher.SetFolders(&window.folders(), {filter.get()});
            refresher.StartIfNotRunning();
        },
        [&refresher, &window, &filter] {
            if (refresher.IsRunning())
                return false;
            const QUuid id = filter->uid;
            {
                QWriteLockerExt2 token(&window.folders().lock);
                if (window.folders().AddFolder(filter.get(), token)) {
                    window.tree().CreateFolderItem(filter.release(), -1, token);
                    window.folders().QueueSave(token);
                }
            }
            window.tree().treeView->setCurrentIndex(window.tree().FindFolderIndex(id));
            Action(window, "action_ShowInfo_OrderBy_OrgPrice")->trigger();
            return true;
        },
        activity);
    {
        QReadLocker locker(&window.page().lock);
        filtered.note = QStringLiteral("%1 books").arg(window.page().totalCount);
    }
    Report(OpFilterFolder, filtered);

    // The commands that compute a folder in their dialog, store it, show it and save.
    auto pageShown = [&window, &saved] { return saved() && window.views().GetCount() > 0; };
    auto filterCommand = [&](Op op, const char *action, const QString &keyword, qint64 ratingCode) {
        Result result = Measure(
            gaps,
            [&window, action, keyword, ratingCode] {
                ModalSteps steps({FillFilter(keyword, ratingCode)});
                Action(window, action)->trigger();
                Paint(window);
            },
            pageShown);
        QReadLocker locker(&window.page().lock);
        result.note = QStringLiteral("%1 books").arg(window.page().totalCount);
        Report(op, result);
    };
    filterCommand(OpAddFilter, "action_Add_Filter", QStringLiteral("a"), 1004);
    const QUuid addedFilter = window.CurrentFolderId().toUuid();
    filterCommand(OpSearch, "action_StartSearch", QStringLiteral("e"), 0);

    // The filter just added, made current again: removed, the next folder is shown.
    window.tree().treeView->setCurrentIndex(window.tree().FindFolderIndex(addedFilter));
    QCoreApplication::processEvents();
    Result removed = Measure(
        gaps,
        [&window] {
            ModalSteps steps({Answer(QMessageBox::Yes)});
            Action(window, "action_ShowCategory_Option_RemoveFolder")->trigger();
            Paint(window);
        },
        pageShown);
    Report(OpDeleteFolder, removed);

    // The last folder dropped above the first row.
    Result dropped = Measure(
        gaps,
        [&window] {
            TreeControllerImpls *view = window.tree().treeView;
            QStandardItemModel *model = window.tree().model;
            std::unique_ptr<QMimeData> data(model->mimeData({model->index(model->rowCount() - 1, 0)}));
            const QRect first = view->visualRect(model->index(0, 0));
            QDropEvent event(QPoint(first.center().x(), first.top() + 1), Qt::MoveAction, data.get(), Qt::LeftButton,
                             Qt::NoModifier);
            view->dropEvent(&event);
            Paint(window);
        },
        saved);
    Report(OpDropFolder, dropped);

    // 7. Clear All Cache while a refresh waits on a service that does not answer.
    TestHttpServer server;
    if (server.Start()) {
        server.SetResponse("/service/getdatabase.php", TestHttpResponse::Hang());
        Const::SetServiceRootsForTesting(server.BaseUrl(), server.BaseUrl(), QString());
        window.on_action_Reresh_All_Data_triggered();
        SpinUntil([] { return false; }, 300);
        auto clearAllCache = [&window] {
            ModalSteps steps({Answer(QMessageBox::Ok)});
            Action(window, "action_Tool_ClearAllCache")->trigger();
        };
        // Done once the command returned with the main area enabled (the refresh it starts
        // again waits on the service as well).
        Result cleared = Measure(gaps, clearAllCache, [&window] { return MainAreaEnabled(window); }, {}, 120000);
        Report(OpClearAndRefresh, cleared);
        window.refresher().Stop();

        // 8. The same while a new catalogue arrives slowly.
        const QByteArray path = "/files/next.rfile";
        server.SetResponse("/service/getdatabase.php",
                           TestHttpResponse::Ok("ok|next-guid|" + path + "|0123456789abcdef0123456789abcdef|1|2"));
        server.SetResponse(path, TestHttpResponse::Trickle(QByteArray(8 * 1024 * 1024, 'x'), 4096, 50));
        window.on_action_Reresh_All_Data_triggered();
        SpinUntil([&server, &path] { return server.RequestCount(path) > 0; }, 10000);
        SpinUntil([] { return false; }, 300);
        Result clearedDownload = Measure(gaps, clearAllCache, [&window] { return MainAreaEnabled(window); }, {}, 120000);
        Report(OpClearDuringDownload, clearedDownload);
        window.refresher().Stop();
        server.Stop();
    }

    out << "PEAK|" << qMax(startPeak, MemoryKiB("VmHWM:") / 1024.0) << '\n';
    out.flush();
    return 0;
}

struct SizeRun
{
    int books = 0;
    double scanMs = -1;
    double coldScanMs = -1;
    double peakMiB = -1;
    std::map<int, Result> ops;
    QString error;
};

SizeRun RunChild(const QString &program, int books)
{
    SizeRun run;
    run.books = books;
    // Made here, so that the child's peak memory is the window's alone.
    QTemporaryDir files;
    const QString first = files.filePath(QStringLiteral("first.rfile"));
    const QString refreshed = files.filePath(QStringLiteral("refreshed.rfile"));
    if (!files.isValid() || !MakeCatalogues(books, first, refreshed)) {
        run.error = QStringLiteral("no catalogue");
        return run;
    }
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(program, {QString::fromLatin1(kChildFlag), QString::number(books), first, refreshed});
    if (!child.waitForFinished(-1) || child.exitStatus() != QProcess::NormalExit) {
        run.error = QStringLiteral("the run crashed");
    }
    const QList<QByteArray> lines = child.readAllStandardOutput().split('\n');
    for (const QByteArray &line : lines) {
        const QList<QByteArray> f = line.split('|');
        if (f.value(0) == "ROW" && f.size() >= 7) {
            Result r;
            r.gapMs = f.at(2).toDouble();
            r.wallMs = f.at(3).toDouble();
            r.medianMs = f.at(4).toDouble();
            r.peakMiB = f.at(5).toDouble();
            r.note = QString::fromUtf8(f.at(6));
            r.workMs = f.value(7).toDouble();
            r.coldScanMs = f.value(8, "-1").toDouble();
            run.ops[f.at(1).toInt()] = r;
        } else if (f.value(0) == "SCAN") {
            run.scanMs = f.value(1).toDouble();
            run.coldScanMs = f.value(2, "-1").toDouble();
        } else if (f.value(0) == "PEAK") {
            run.peakMiB = f.value(1).toDouble();
        } else if (f.value(0) == "ERROR") {
            run.error = QString::fromUtf8(f.value(1));
        }
    }
    return run;
}

// The time as full scans: the worker's own time where there is one, against the scan in the
// same cache state.
double ScanRatio(const Result &r, double warmScanMs)
{
    const double scan = r.coldScanMs > 0 ? r.coldScanMs : warmScanMs;
    return scan > 0 ? (r.workMs > 0 ? r.workMs : r.wallMs) / scan : -1;
}

QString Num(double value, int decimals = 0)
{
    return value < 0 ? QStringLiteral("-") : QString::number(value, 'f', decimals);
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (argc == 5 && qstrcmp(argv[1], kChildFlag) == 0) {
        // The window's own diagnostics would bury the table.
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &text) {
            if (type == QtCriticalMsg || type == QtFatalMsg)
                fprintf(stderr, "%s\n", qPrintable(text));
        });
        QCoreApplication::setOrganizationName(Const::CompanyName);
        QCoreApplication::setApplicationName(Const::AppName);
        RegisterSqlCipherDriver();
        QApplication app(argc, argv);
        QApplication::setStyle(QStringLiteral("Fusion"));
        app.setQuitOnLastWindowClosed(false);
        return RunOneSize(QString::fromLocal8Bit(argv[3]), QString::fromLocal8Bit(argv[4]));
    }

    QCoreApplication app(argc, argv);
    QList<int> sizes;
    for (int i = 1; i < argc; ++i)
        sizes << QString::fromLocal8Bit(argv[i]).toInt();
    if (sizes.isEmpty())
        sizes << 100000;
    std::sort(sizes.begin(), sizes.end());

    std::vector<SizeRun> runs;
    for (int books : qAsConst(sizes)) {
        out << "running " << books << " books...\n";
        out.flush();
        runs.push_back(RunChild(QCoreApplication::applicationFilePath(), books));
    }

    int met = 0, targets = 0;
    auto target = [&met, &targets](bool ok) {
        ++targets;
        met += ok ? 1 : 0;
        return ok ? QStringLiteral("ok") : QStringLiteral("MISSED");
    };
    const SizeRun *previous = nullptr;
    for (const SizeRun &run : runs) {
        out << "\n" << run.books << " books: one full scan " << Num(run.scanMs, 1) << " ms ("
            << Num(run.coldScanMs, 1) << " ms with no page cached), peak RSS "
            << Num(run.peakMiB) << " MiB";
        if (!run.error.isEmpty())
            out << " (" << run.error << ")";
        out << "\n";
        out << QStringLiteral("%1 %2 %3 %4 %5 %6  %7\n")
                   .arg(QStringLiteral("operation"), -42)
                   .arg(QStringLiteral("gap ms"), 8)
                   .arg(QStringLiteral("wall ms"), 9)
                   .arg(QStringLiteral("scans"), 7)
                   .arg(QStringLiteral("RSS MiB"), 8)
                   .arg(QStringLiteral("growth"), 7)
                   .arg(QStringLiteral("note"));
        const bool tenfold = previous && run.books == previous->books * 10;
        for (int op = 0; op < OpCount; ++op) {
            const auto found = run.ops.find(op);
            if (found == run.ops.end()) {
                out << QStringLiteral("%1 (not measured)\n").arg(QString::fromLatin1(kOpNames[op]), -42);
                if (run.books == 100000)
                    target(false);
                continue;
            }
            const Result &r = found->second;
            QString growth;
            if (tenfold && previous->ops.count(op)) {
                const double before = qMax(previous->ops.at(op).wallMs, 1.0);
                growth = QString::number(qMax(r.wallMs, 1.0) / before, 'f', 1) + QLatin1Char('x');
            }
            QStringList verdicts;
            if (run.books == 100000) {
                verdicts << QStringLiteral("gap<=100 ") + target(r.gapMs <= 100);
                if (op == OpComputeAfterSwap)
                    verdicts << QStringLiteral("scans<=8 ") + target(ScanRatio(r, run.scanMs) > 0 && ScanRatio(r, run.scanMs) <= 8);
                if (op == OpSortAll)
                    verdicts << QStringLiteral("wall<=300 ") + target(r.wallMs <= 300);
                if (op == OpCoverPages)
                    verdicts << QStringLiteral("median<=30 ") + target(r.medianMs <= 30);
            }
            if (run.books == 1000000 && (op == OpSaveFolders || op == OpFilterFolder))
                verdicts << QStringLiteral("gap<=100 ") + target(r.gapMs <= 100);
            if (tenfold && previous->books == 100000 && !growth.isEmpty())
                verdicts << QStringLiteral("growth<=10x ")
                                + target(qMax(r.wallMs, 1.0) / qMax(previous->ops.at(op).wallMs, 1.0) <= 12);
            out << QStringLiteral("%1 %2 %3 %4 %5 %6  %7\n")
                       .arg(QString::fromLatin1(kOpNames[op]), -42)
                       .arg(Num(r.gapMs, 1), 8)
                       .arg(Num(r.wallMs, 1), 9)
                       .arg(Num(ScanRatio(r, run.scanMs), 1), 7)
                       .arg(Num(r.peakMiB), 8)
                       .arg(growth, 7)
                       .arg((r.note.isEmpty() ? QString() : r.note + QStringLiteral("; ")) + verdicts.join(QStringLiteral(", ")));
        }
        if (run.books == 100000)
            out << "peak RSS <= 350 MiB: " << target(run.peakMiB > 0 && run.peakMiB <= 350) << "\n";
        if (run.books == 1000000)
            out << "peak RSS <= 1.5 GiB: " << target(run.peakMiB > 0 && run.peakMiB <= 1536) << "\n";
        previous = &run;
    }
    out << "\nresponsiveness: " << met << " of " << targets << " targets met\n";
    out.flush();
    return 0;
}
