#include "CatalogueTool.h"
#include "SiteCommand.h"

#include <QCoreApplication>
#include <QTextStream>

#include <cstdio>

int main(int argc, char *argv[])
{
    if (argc > 1 && qstrcmp(argv[1], "site") == 0)
        return SiteCommand::Main(argc, argv);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tessaly-catalogue"));
    QTextStream out(stdout);
    QTextStream err(stderr);
    CatalogueTool tool(out, err);
    const int status = tool.Run(app.arguments().mid(1));
    out.flush();
    err.flush();
    return status;
}
