// Loads every book of a 100,000-book catalogue into the catalogue store's cache and prints
// the time taken and the peak memory of the process.
//
// Without arguments it generates the catalogue in a temporary folder and measures in a fresh
// child process (so the generator's own memory does not count); with "--measure FILE [BOOKS]"
// it measures an existing catalogue; "--generate FILE [BOOKS]" only writes one.
#include "Helper.h"
#include "catalogue/ItemDataSaver.h"
#include "threads/QWriteLockerExt2.h"
#include "writer/CatalogueGenerator.h"
#include "cipher/SqlCipherDriverRegistration.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>

#include <sys/resource.h>

namespace {

double PeakMegabytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0; // ru_maxrss is in KB on Linux
}

int Measure(const QString &path)
{
    QTextStream out(stdout);
    RegisterSqlCipherDriver();
    const double startPeak = PeakMegabytes();

    ItemDataSaver store;
    QElapsedTimer timer;
    timer.start();
    if (!store.LoadDatabase(path)) {
        out << "cannot open " << path << Qt::endl;
        return 2;
    }
    const qint64 openMs = timer.restart();
    const double afterOpenPeak = PeakMegabytes();

    QWriteLockerExt2 token(&store.lock);
    store.LoadAllBooks(token);
    const qint64 loadMs = timer.restart();
    const double afterLoadPeak = PeakMegabytes();

    // A second call finds the cache complete and must cost nothing.
    store.LoadAllBooks(token);
    const qint64 againUs = timer.nsecsElapsed() / 1000;

    const QList<qint64> ids = store.QueryBookIds(QString());
    timer.restart();
    QList<qint64> sorted;
    store.SortBookIds(OrderBy_EventStartDate, false, &ids, sorted, token);
    const qint64 sortDateMs = timer.restart();
    store.SortBookIds(OrderBy_OrgPrice, true, &ids, sorted, token);
    const qint64 sortPriceMs = timer.restart();
    store.SortBookIds(OrderBy_Random, false, &ids, sorted, token);
    const qint64 sortRandomMs = timer.restart();

    // Local-time conversions cost far more with TZ unset (the zone file is checked on each).
    out << "TZ: " << (qEnvironmentVariableIsSet("TZ") ? qEnvironmentVariable("TZ") : QStringLiteral("unset")) << "\n";
    out << "catalogue: " << store.knownBookCount << " books, " << store.books->size()
        << " cached" << Qt::endl;
    out << "LoadDatabase: " << openMs << " ms" << Qt::endl;
    out << "LoadAllBooks: " << loadMs << " ms (second call " << againUs << " us)" << Qt::endl;
    out << "peak RSS: start " << QString::number(startPeak, 'f', 1) << " MB, after open "
        << QString::number(afterOpenPeak, 'f', 1) << " MB, after LoadAllBooks "
        << QString::number(afterLoadPeak, 'f', 1) << " MB" << Qt::endl;
    out << "SortBookIds on " << ids.size() << " ids: event date " << sortDateMs << " ms, price "
        << sortPriceMs << " ms, random " << sortRandomMs << " ms" << Qt::endl;
    return store.books->size() == store.knownBookCount ? 0 : 1;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() >= 3 && args.at(1) == QLatin1String("--measure"))
        return Measure(args.at(2));

    const bool generateOnly = args.size() >= 3 && args.at(1) == QLatin1String("--generate");
    const int books = generateOnly ? (args.size() >= 4 ? args.at(3).toInt() : 100000)
                                   : (args.size() >= 2 ? args.at(1).toInt() : 100000);
    QTemporaryDir dir;
    if (!dir.isValid())
        return 2;
    const QString path = generateOnly ? args.at(2) : dir.filePath(QStringLiteral("bench.rfile"));

    CatalogueGeneratorOptions options;
    options.books = books > 0 ? books : 100000;
    options.categories = 200;
    options.password = Helper::GetCatalogPassword().toUtf8();
    options.nowUtc = 1764892800;
    QString error;
    QElapsedTimer timer;
    timer.start();
    if (!CatalogueGenerator::Generate(options, path, nullptr, &error)) {
        QTextStream(stderr) << "generation failed: " << error << Qt::endl;
        return 2;
    }
    QTextStream(stdout) << "generated " << options.books << " books in " << timer.elapsed()
                        << " ms, " << QFileInfo(path).size() / 1024 << " KB" << Qt::endl;
    if (generateOnly)
        return 0;

    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    child.start(app.applicationFilePath(), {QStringLiteral("--measure"), path});
    if (!child.waitForFinished(-1))
        return 2;
    return child.exitCode();
}
