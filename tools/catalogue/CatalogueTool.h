#pragma once

#include <QByteArray>
#include <QStringList>

class QTextStream;

// Command-line front end of tessaly-catalogue:
//   generate --books N [--categories M] [--seed S] [--password P] [--page-size B] [--now SECS] --out FILE
//   encrypt PLAIN OUT [--password P]
//   info FILE [--password P]
// Exit status: 0 done, 1 usage error, 2 the operation failed (one line on stderr).
class CatalogueTool
{
public:
    CatalogueTool(QTextStream &out, QTextStream &err);

    int Run(const QStringList &arguments);

    // The program's own catalogue password, used when --password is not given.
    static QByteArray DefaultPassword();

private:
    int Generate(const QStringList &arguments);
    int Encrypt(const QStringList &arguments);
    int Info(const QStringList &arguments);
    int Usage(const QString &problem);
    int Failure(const QString &problem);

    QTextStream &out;
    QTextStream &err;
};
