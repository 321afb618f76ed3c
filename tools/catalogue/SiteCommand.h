#pragma once

#include <QStringList>

class QTextStream;

// "site" command of tessaly-catalogue: a folder that a static web server serves as the
// catalogue service (see SiteBuilder).
//   site --books N [--seed S] --out DIR
//   site --update DIR
// Exit status as the other commands: 0 done, 1 usage error, 2 the operation failed.
class SiteCommand
{
public:
    SiteCommand(QTextStream &out, QTextStream &err);

    // arguments: what follows "site".
    int Run(const QStringList &arguments);

    // Entry from main: covers are drawn with fonts, which need a GUI application (offscreen).
    static int Main(int argc, char *argv[]);

private:
    int Usage(const QString &problem);

    QTextStream &out;
    QTextStream &err;
};
