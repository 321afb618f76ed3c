// Main window with a large catalogue: start to the first page shown, page switches, and the
// first order of the folder of all books that is not the stored one (time and peak memory).
// Usage: bench_mainwindow [books] [page switches]
#include "BenchMemory.h"
#include "CatalogueSlots.h"
#include "Const.h"
#include "folders/DisplayDataSaver.h"
#include "Helper.h"
#include "mainwindow/MainWindow.h"
#include "writer/CatalogueGenerator.h"
#include "cipher/SqlCipherDriverRegistration.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

QTextStream out(stdout);

using BenchMemory::MemoryKiB;
using BenchMemory::ResetPeakMemory;

// Runs the event loop until the window shows a page (or the time runs out); elapsed ms or -1.
qint64 WaitForFirstPage(MainWindow &window, const QElapsedTimer &clock, int limitMs)
{
    while (clock.elapsed() < limitMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        if (window.views().GetCount() > 0 && window.findChild<QWidget *>(QStringLiteral("MainContainer"))->isEnabled())
            return clock.elapsed();
    }
    return -1;
}

QAction *Action(MainWindow &window, const char *name)
{
    return window.findChild<QAction *>(QLatin1String(name));
}

void SetView(MainWindow &window, int view)
{
    QWriteLocker locker(&window.settings().lock);
    window.settings().currentSettings.Display_DefaultView = view;
}

double Median(std::vector<double> values)
{
    if (values.empty())
        return -1;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char *argv[])
{
    QTemporaryDir home;
    if (!home.isValid())
        return 1;
    qputenv("HOME", home.path().toUtf8());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QStandardPaths::setTestModeEnabled(true);
    // The first load runs for real: keep its requests on a closed loopback port.
    Const::SetServiceRootsForTesting(QStringLiteral("http://127.0.0.1:9"), QStringLiteral("http://127.0.0.1:9"),
                                     QString());
    QCoreApplication::setOrganizationName(Const::CompanyName);
    QCoreApplication::setApplicationName(Const::AppName);
    RegisterSqlCipherDriver();
    QApplication app(argc, argv);
    QApplication::setStyle(QStringLiteral("Fusion"));
    app.setQuitOnLastWindowClosed(false);
    const int bookCount = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 100000;
    const int switches = argc > 2 ? QString::fromLocal8Bit(argv[2]).toInt() : 20;

    // The catalogue sits in its slot, as after an earlier download.
    const QString slotPath = CatalogueSlots::MakeCatalogueFileName(0);
    CatalogueGeneratorOptions options;
    options.books = bookCount;
    options.categories = 40;
    options.password = Helper::GetCatalogPassword().toUtf8();
    QElapsedTimer clock;
    clock.start();
    QString error;
    if (slotPath.isEmpty() || !CatalogueGenerator::Generate(options, slotPath, nullptr, &error)
        || !CatalogueSlots::WritePreFile(0)) {
        out << "cannot place the catalogue: " << error << "\n";
        return 1;
    }
    out << "catalogue: " << bookCount << " books made in " << clock.elapsed() << " ms\n";

    // First start: loads the slot file and computes and saves every folder.
    {
        clock.restart();
        MainWindow window(nullptr, true);
        window.show();
        const qint64 shown = WaitForFirstPage(window, clock, 120000);
        out << "first start (folders computed and saved): first page after " << shown << " ms\n";
    }

    // Later start: the catalogue and the folders file are in place.
    for (int view : {1, 0}) {
        std::unique_ptr<MainWindow> window;
        clock.restart();
        window = std::make_unique<MainWindow>(nullptr, true);
        window->show();
        SetView(*window, view);
        const qint64 shown = WaitForFirstPage(*window, clock, 60000);
        out << "later start, " << (view ? "covers" : "details") << " view: first page after " << shown
            << " ms (target <= 1500)\n";
        if (view == 0)
            continue;

        // Page switches in the folder of all books, in both views.
        for (int switchView : {1, 0}) {
            window->ChangeBookShowView(Action(*window, switchView ? "action_ShowInfo_View_Covers"
                                                                  : "action_ShowInfo_View_Details"),
                                       true, true);
            std::vector<double> times;
            for (int i = 0; i < switches; ++i) {
                QElapsedTimer one;
                one.start();
                if (i % 2 == 0)
                    window->on_action_ShowInfo_Page_Next_triggered();
                else
                    window->on_action_ShowInfo_Page_Last_triggered();
                QCoreApplication::sendPostedEvents();
                times.push_back(double(one.nsecsElapsed()) / 1e6);
                window->on_action_ShowInfo_Page_First_triggered();
                QCoreApplication::processEvents();
            }
            out << "page switch, " << (switchView ? "covers" : "details") << " view, "
                << window->page().GetPageSize() << " books a page: median "
                << QString::number(Median(times), 'f', 1) << " ms, worst "
                << QString::number(*std::max_element(times.begin(), times.end()), 'f', 1)
                << " ms (target <= 50)\n";
        }

        // The first order that is not the stored one reads every book of the catalogue.
        QCoreApplication::processEvents();
        const qint64 before = MemoryKiB("VmRSS:");
        ResetPeakMemory();
        QElapsedTimer sort;
        sort.start();
        Action(*window, "action_ShowInfo_OrderBy_BookPages")->trigger();
        const qint64 sortMs = sort.elapsed();
        const qint64 peak = MemoryKiB("VmHWM:");
        out << "first sort of all books by pages: " << sortMs << " ms, resident before " << before / 1024
            << " MiB, peak " << peak / 1024 << " MiB (+" << (peak - before) / 1024 << " MiB)\n";
        sort.restart();
        Action(*window, "action_ShowInfo_OrderBy_BookSize")->trigger();
        out << "next sort of all books by size: " << sort.elapsed() << " ms\n";
    }
    out.flush();
    return 0;
}
