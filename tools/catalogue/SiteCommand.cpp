#include "SiteCommand.h"

#include "SiteBuilder.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QTextStream>

#include <cstdio>

SiteCommand::SiteCommand(QTextStream &outStream, QTextStream &errStream)
    : out(outStream)
    , err(errStream)
{
}

int SiteCommand::Main(int argc, char *argv[])
{
    // No display is needed or wanted, whatever the environment says.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tessaly-catalogue"));
    QTextStream out(stdout);
    QTextStream err(stderr);
    SiteCommand command(out, err);
    const int status = command.Run(app.arguments().mid(2));
    out.flush();
    err.flush();
    return status;
}

int SiteCommand::Usage(const QString &problem)
{
    err << "tessaly-catalogue: " << problem << '\n'
        << "usage: tessaly-catalogue site --books N [--seed S] --out DIR\n"
        << "       tessaly-catalogue site --update DIR\n";
    return 1;
}

int SiteCommand::Run(const QStringList &arguments)
{
    QString outDir;
    QString updateDir;
    qint64 books = -1;
    quint64 seed = 1;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString &name = arguments.at(i);
        if (i + 1 >= arguments.size())
            return Usage(QStringLiteral("%1 needs a value").arg(name));
        const QString value = arguments.at(++i);
        bool ok = true;
        if (name == QLatin1String("--books"))
            books = value.toLongLong(&ok);
        else if (name == QLatin1String("--seed"))
            seed = value.toULongLong(&ok);
        else if (name == QLatin1String("--out"))
            outDir = value;
        else if (name == QLatin1String("--update"))
            updateDir = value;
        else
            return Usage(QStringLiteral("unknown argument %1").arg(name));
        if (!ok || value.isEmpty())
            return Usage(QStringLiteral("%1 needs a number").arg(name));
    }
    const bool creating = !outDir.isEmpty() || books >= 0;
    if (creating == !updateDir.isEmpty())
        return Usage(QStringLiteral("give either --books N --out DIR or --update DIR"));
    if (creating && (outDir.isEmpty() || books < 0 || books > 1000000))
        return Usage(QStringLiteral("--books needs a count from 0 to 1000000 and --out a folder"));

    QElapsedTimer timer;
    timer.start();
    SiteSummary summary;
    QString error;
    const bool ok = creating ? SiteBuilder::Create(outDir, int(books), seed, &summary, &error)
                             : SiteBuilder::Update(updateDir, &summary, &error);
    if (!ok) {
        err << "tessaly-catalogue: " << error << '\n';
        return 2;
    }
    out << "site " << (creating ? outDir : updateDir) << " generation " << summary.generation << ": " << summary.books
        << " books (" << summary.added << " added, " << summary.removed << " withdrawn), guid " << summary.guid << ", "
        << summary.coversDrawn << " covers drawn, " << summary.coversLeftOut << " left without a cover, in "
        << timer.elapsed() << " ms\n";
    return 0;
}
