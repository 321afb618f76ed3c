#pragma once

#include <QList>
#include <QString>

// What a build or an update of a local service folder made.
struct SiteSummary
{
    int generation = 0;
    QString guid;
    qint64 books = 0;
    qint64 added = 0;
    qint64 removed = 0;
    // Path of the catalogue below the folder, as the service answer names it ("/files/...").
    QString location;
    QString md5;
    int coversDrawn = 0;
    // Books that should have a cover but are left without one on purpose (404).
    int coversLeftOut = 0;
};

// Builds a folder that a plain static web server serves as the catalogue service:
//   service/getdatabase.php   "ok|GUID|/files/catalogue-G.rfile|MD5||"
//   service/version.php       the program's version
//   files/catalogue-G.rfile   the encrypted catalogue of generation G
//   local/images/<uid>_201.jpg  covers of the books that have one
//   site.json                 what the next update starts from
// The answer file is replaced last, so a program asking meanwhile gets a complete catalogue.
class SiteBuilder
{
public:
    SiteBuilder() = delete;

    // A new site of generation 1. The folder must be missing, empty or an earlier site.
    static bool Create(const QString &dir, int books, quint64 seed, SiteSummary *summary, QString *error);
    // The next generation: about 5% new books (published just now), about 3% withdrawn, a new guid.
    static bool Update(const QString &dir, SiteSummary *summary, QString *error);

    // Books whose cover the service lacks on purpose, although the catalogue says there is one.
    static bool IsCoverLeftOut(qint64 uid);

    static const char *const StateFileName;
};
