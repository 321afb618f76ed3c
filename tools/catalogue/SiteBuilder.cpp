#include "SiteBuilder.h"

#include "CatalogueTool.h"
#include "Const.h"
#include "CoverPainter.h"
#include "writer/CatalogueEncrypter.h"
#include "writer/CatalogueGenerator.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QSet>
#include <QTemporaryFile>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include <sqlite3.h>

const char *const SiteBuilder::StateFileName = "site.json";

namespace {

struct SiteState
{
    quint64 seed = 1;
    // Books generated (UIDs 1..generated), before the withdrawn ones are taken out.
    int generated = 0;
    QList<qint64> removed;
    int generation = 0;
};

struct BookRow
{
    qint64 uid = 0;
    QString title;
    QString author;
    qint64 imageCompId = 0;
};

bool Fail(QString *error, const QString &text)
{
    if (error)
        *error = text;
    return false;
}

QString StatePath(const QString &dir)
{
    return QDir(dir).filePath(QString::fromLatin1(SiteBuilder::StateFileName));
}

QString CatalogueName(int generation)
{
    return QStringLiteral("catalogue-%1.rfile").arg(generation);
}

bool WriteFileAtomically(const QString &path, const QByteArray &bytes, QString *error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        return Fail(error, QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
    return true;
}

bool ReadState(const QString &dir, SiteState *state, QString *error)
{
    QFile file(StatePath(dir));
    if (!file.open(QIODevice::ReadOnly))
        return Fail(error, QStringLiteral("%1 is not a site made by this tool (no %2)").arg(dir, file.fileName()));
    const QJsonObject object = QJsonDocument::fromJson(file.readAll()).object();
    state->seed = object.value(QStringLiteral("seed")).toString().toULongLong();
    state->generated = object.value(QStringLiteral("generated")).toInt(-1);
    state->generation = object.value(QStringLiteral("generation")).toInt(0);
    const QJsonArray removed = object.value(QStringLiteral("removed")).toArray();
    for (const QJsonValue &uid : removed)
        state->removed.append(qint64(uid.toDouble()));
    if (state->generated < 0 || state->generation < 1)
        return Fail(error, QStringLiteral("%1 is damaged").arg(file.fileName()));
    return true;
}

bool WriteState(const QString &dir, const SiteState &state, QString *error)
{
    QJsonArray removed;
    for (qint64 uid : state.removed)
        removed.append(double(uid));
    QJsonObject object;
    // Text: a 64-bit seed does not survive a JSON number.
    object.insert(QStringLiteral("seed"), QString::number(state.seed));
    object.insert(QStringLiteral("generated"), state.generated);
    object.insert(QStringLiteral("generation"), state.generation);
    object.insert(QStringLiteral("removed"), removed);
    return WriteFileAtomically(StatePath(dir), QJsonDocument(object).toJson(), error);
}

bool ReadBooks(const QString &plainPath, QList<BookRow> *rows, QString *error)
{
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(QFile::encodeName(plainPath).constData(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return Fail(error, QStringLiteral("cannot read the generated catalogue"));
    }
    sqlite3_stmt *stmt = nullptr;
    bool ok = sqlite3_prepare_v2(db, "SELECT UID, BookName, BookAuthor, _ImageCompID FROM published_bookinfo ORDER BY UID",
                                 -1, &stmt, nullptr)
              == SQLITE_OK;
    int step = SQLITE_DONE;
    while (ok && (step = sqlite3_step(stmt)) == SQLITE_ROW) {
        BookRow row;
        row.uid = sqlite3_column_int64(stmt, 0);
        row.title = QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(stmt, 1)));
        row.author = QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(stmt, 2)));
        row.imageCompId = sqlite3_column_int64(stmt, 3);
        rows->append(row);
    }
    ok = ok && step == SQLITE_DONE;
    const QString message = QString::fromUtf8(sqlite3_errmsg(db));
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return ok || Fail(error, QStringLiteral("cannot read the generated catalogue: %1").arg(message));
}

QString FileMd5(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    QCryptographicHash hash(QCryptographicHash::Md5);
    if (!hash.addData(&file))
        return QString();
    return QString::fromLatin1(hash.result().toHex());
}

// Draws the covers of the given books on all cores; the first failure stops the rest.
bool DrawCovers(const QString &imagesDir, const QList<BookRow> &books, QString *error)
{
    // Painting text into a QImage is allowed off the GUI thread.
    const int workers = qBound(1, QThread::idealThreadCount(), 8);
    std::atomic<int> next(0);
    std::atomic<bool> failed(false);
    QMutex errorMutex;
    QString firstError;
    auto work = [&]() {
        for (int i = next++; i < books.size() && !failed; i = next++) {
            const BookRow &book = books.at(i);
            const QByteArray jpeg = CoverPainter::PaintJpeg(book.uid, book.title, book.author);
            QString problem;
            if (jpeg.isEmpty())
                problem = QStringLiteral("cannot encode the cover of book %1").arg(book.uid);
            else
                WriteFileAtomically(QDir(imagesDir).filePath(QStringLiteral("%1_201.jpg").arg(book.uid)), jpeg, &problem);
            if (!problem.isEmpty()) {
                QMutexLocker locker(&errorMutex);
                if (!failed.exchange(true))
                    firstError = problem;
            }
        }
    };
    std::vector<std::thread> threads;
    for (int i = 1; i < workers; ++i)
        threads.emplace_back(work);
    work();
    for (std::thread &thread : threads)
        thread.join();
    return !failed || Fail(error, firstError);
}

bool Build(const QString &dir, SiteState &state, int previousGenerated, SiteSummary *summary, QString *error)
{
    const QDir root(dir);
    const QString filesDir = root.filePath(QStringLiteral("files"));
    const QString serviceDir = root.filePath(QStringLiteral("service"));
    const QString imagesDir = root.filePath(QStringLiteral("local/images"));
    for (const QString &path : {filesDir, serviceDir, imagesDir}) {
        if (!QDir().mkpath(path))
            return Fail(error, QStringLiteral("cannot create %1").arg(path));
    }

    CatalogueGeneratorOptions options;
    options.books = state.generated;
    options.seed = state.seed;
    options.password = CatalogueTool::DefaultPassword();
    options.nowUtc = QDateTime::currentSecsSinceEpoch();
    if (!state.removed.isEmpty()) {
        QStringList uids;
        for (qint64 uid : qAsConst(state.removed))
            uids.append(QString::number(uid));
        options.extraSql << QStringLiteral("DELETE FROM published_bookinfo WHERE UID IN (%1)").arg(uids.join(QLatin1Char(',')));
    }
    // Books added by an update are published now, so they show among the new arrivals.
    if (previousGenerated > 0) {
        options.extraSql << QStringLiteral("UPDATE published_bookinfo SET FirstPubTimeGMT = %1 - (UID % 3600) WHERE UID > %2")
                                .arg(options.nowUtc)
                                .arg(previousGenerated);
    }

    QTemporaryFile plain(QDir(filesDir).filePath(QStringLiteral(".plain-XXXXXX")));
    if (!plain.open())
        return Fail(error, QStringLiteral("cannot create a temporary file in %1").arg(filesDir));
    const QString plainPath = plain.fileName();
    plain.close();
    CatalogueGeneratorResult result;
    QList<BookRow> rows;
    const QString cataloguePath = QDir(filesDir).filePath(CatalogueName(state.generation));
    const bool built = CatalogueGenerator::GeneratePlain(options, plainPath, &result, error)
                       && ReadBooks(plainPath, &rows, error)
                       && CatalogueEncrypter::EncryptFile(plainPath, cataloguePath, options.password, error);
    QFile::remove(plainPath + QStringLiteral("-journal"));
    if (!built)
        return false;

    // The program fetches covers only for books with an image id; of those some stay missing.
    QList<BookRow> toDraw;
    int leftOut = 0;
    for (const BookRow &row : qAsConst(rows)) {
        if (row.imageCompId == 0)
            continue;
        if (SiteBuilder::IsCoverLeftOut(row.uid)) {
            ++leftOut;
            continue;
        }
        if (!QFileInfo::exists(QDir(imagesDir).filePath(QStringLiteral("%1_201.jpg").arg(row.uid))))
            toDraw.append(row);
    }
    if (!DrawCovers(imagesDir, toDraw, error))
        return false;

    const QString md5 = FileMd5(cataloguePath);
    if (md5.isEmpty())
        return Fail(error, QStringLiteral("cannot read %1").arg(cataloguePath));
    const QString location = QStringLiteral("/files/") + CatalogueName(state.generation);
    const QString answer = QStringLiteral("ok|%1|%2|%3||").arg(result.guid, location, md5);
    if (!WriteFileAtomically(QDir(serviceDir).filePath(QStringLiteral("version.php")), Const::SoftVersion.toUtf8(), error)
        || !WriteFileAtomically(QDir(serviceDir).filePath(QStringLiteral("getdatabase.php")), answer.toUtf8(), error)
        || !WriteState(dir, state, error)) {
        return false;
    }
    // The previous catalogue stays for a download that started before the answer changed.
    for (int old = state.generation - 2; old >= 1; --old) {
        const QString oldPath = QDir(filesDir).filePath(CatalogueName(old));
        if (!QFileInfo::exists(oldPath))
            break;
        QFile::remove(oldPath);
    }

    summary->generation = state.generation;
    summary->guid = result.guid;
    summary->books = result.books;
    summary->location = location;
    summary->md5 = md5;
    summary->coversDrawn = toDraw.size();
    summary->coversLeftOut = leftOut;
    return true;
}

} // namespace

bool SiteBuilder::IsCoverLeftOut(qint64 uid)
{
    return uid % 29 == 7;
}

bool SiteBuilder::Create(const QString &dir, int books, quint64 seed, SiteSummary *summary, QString *error)
{
    QDir root(dir);
    if (root.exists() && !root.isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden)) {
        if (!QFileInfo::exists(StatePath(dir)))
            return Fail(error, QStringLiteral("%1 is neither empty nor a site made by this tool").arg(dir));
        // An earlier site: its covers may belong to other titles.
        for (const QString &sub : {QStringLiteral("service"), QStringLiteral("files"), QStringLiteral("local")}) {
            QDir old(root.filePath(sub));
            if (old.exists() && !old.removeRecursively())
                return Fail(error, QStringLiteral("cannot clear %1").arg(old.path()));
        }
        QFile::remove(StatePath(dir));
    }
    if (!QDir().mkpath(dir))
        return Fail(error, QStringLiteral("cannot create %1").arg(dir));
    SiteState state;
    state.seed = seed;
    state.generated = books;
    state.generation = 1;
    *summary = SiteSummary();
    summary->added = books;
    return Build(dir, state, 0, summary, error);
}

bool SiteBuilder::Update(const QString &dir, SiteSummary *summary, QString *error)
{
    SiteState state;
    if (!ReadState(dir, &state, error))
        return false;
    const int previousGenerated = state.generated;
    const QSet<qint64> alreadyRemoved(state.removed.cbegin(), state.removed.cend());
    QList<qint64> live;
    for (qint64 uid = 1; uid <= previousGenerated; ++uid) {
        if (!alreadyRemoved.contains(uid))
            live.append(uid);
    }
    const int adding = std::max(1, int(live.size() / 20));
    const int removing = std::min(int(live.size()), std::max(1, int(live.size() / 33)));
    QRandomGenerator random(quint32(state.seed) ^ quint32(state.generation * 7919));
    for (int i = 0; i < removing; ++i)
        state.removed.append(live.takeAt(int(random.bounded(quint32(live.size())))));
    std::sort(state.removed.begin(), state.removed.end());
    state.generated += adding;
    ++state.generation;
    *summary = SiteSummary();
    summary->added = adding;
    summary->removed = removing;
    return Build(dir, state, previousGenerated, summary, error);
}
