#include "writer/CatalogueGenerator.h"

#include "writer/CatalogueEncrypter.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>
#include <QUuid>
#include <QVariant>

#include <sqlite3.h>

#include <algorithm>
#include <vector>

namespace {

// SplitMix64: small, fast and the same on every platform.
class Random
{
public:
    explicit Random(quint64 seed)
        : state(seed)
    {
    }
    quint64 Next()
    {
        quint64 z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // Uniform in [0, bound).
    int Below(int bound) { return bound <= 0 ? 0 : int(Next() % quint64(bound)); }
    qint64 Below64(qint64 bound) { return bound <= 0 ? 0 : qint64(Next() % quint64(bound)); }
    bool Chance(int percent) { return Below(100) < percent; }

private:
    quint64 state;
};

template <size_t N>
const char *Pick(Random &random, const char *const (&list)[N])
{
    return list[random.Below(int(N))];
}

const char *const kCategoryNames[] = {
    "Fantasy", "Science Fiction", "Mystery", "Thrillers", "Romance", "Historical Fiction", "Horror",
    "Arts & Crafts", "Biographies & Memoirs", "Business", "Children's Books", "Computers", "Cookbooks",
    "Education", "Health & Fitness", "History", "Humor", "Literary Fiction", "Mathematics", "Music",
    "Parenting", "Philosophy", "Poetry", "Politics", "Psychology", "Religion", "Science", "Self-Help",
    "Sports", "Travel", "True Crime", "Young Adult", "Comics", "Drama", "Nature", "Photography",
    "Economics", "Languages", "Law", "Medicine", "alpha Picks", "Westerns", "Short Stories", "Essays",
    "Gardening", "Home & Garden", "Pets", "Crafts", "Design", "Architecture"};

const char *const kAdjectives[] = {
    "Silent", "Hidden", "Last", "Broken", "Golden", "Forgotten", "Crimson", "Distant", "Endless", "Secret",
    "Wandering", "Burning", "Frozen", "Quiet", "Little", "Midnight", "Shattered", "Velvet", "Iron", "Lonely",
    "Electric", "Ancient", "Bright", "Hollow", "Wild"};

const char *const kNouns[] = {
    "River", "Garden", "Kingdom", "Shadow", "Letter", "Harbor", "Mountain", "Promise", "Empire", "Winter",
    "Orchard", "Voyage", "Library", "Storm", "Island", "Crown", "Journey", "Mirror", "Forest", "Station",
    "Bridge", "Lantern", "Compass", "Melody", "Frontier"};

const char *const kFirstNames[] = {
    "Anna", "James", "Maria", "Robert", "Linda", "Michael", "Sofia", "David", "Emma", "Daniel", "Olivia",
    "Lucas", "Chloé", "Björn", "Zoë", "Ahmed", "Yuki", "Priya", "Mateo", "Ingrid", "Seán", "Nadia"};

const char *const kLastNames[] = {
    "Smith", "Johnson", "Brown", "Garcia", "Miller", "Davis", "Martinez", "Wilson", "Anderson", "Taylor",
    "Thomas", "Moore", "Jackson", "Martin", "Lee", "O'Brien", "Müller", "Novák", "Kowalski", "Nakamura",
    "Lindqvist", "Dubois"};

const char *const kSentenceStarts[] = {
    "In this gripping tale,", "Set against the backdrop of a changing world,", "A heartfelt story in which",
    "From the award-winning author comes a novel where", "This practical guide shows how",
    "Told in alternating voices,", "An unforgettable journey in which", "With wit and warmth,"};

const char *const kSubjects[] = {
    "a young apprentice", "two estranged sisters", "a retired detective", "an ambitious chef",
    "a lonely astronomer", "the village doctor", "a reluctant heir", "a team of explorers",
    "a curious child", "an aging musician"};

const char *const kVerbs[] = {
    "discovers", "confronts", "rebuilds", "searches for", "uncovers", "defends", "loses and finds",
    "learns to trust", "sets out to map", "must choose between"};

const char *const kObjects[] = {
    "a family secret buried for decades", "the meaning of home", "a map to a vanished city",
    "the truth about an old friendship", "a second chance at love", "the courage to start again",
    "the secrets of the northern sky", "an inheritance nobody wanted", "a recipe that changed history",
    "the last song of a forgotten band"};

const char *const kEndings[] = {
    "Readers will not be able to put it down.", "A story about hope, loss and resilience.",
    "Perfect for fans of sweeping sagas.", "Includes a reading group guide.",
    "Now with a new afterword by the author.", "Fast-paced and beautifully written.",
    "A celebration of curiosity and kindness.", "Funny, wise and deeply moving."};

struct Database
{
    sqlite3 *db = nullptr;
    ~Database()
    {
        if (db)
            sqlite3_close(db);
    }
};

struct Statement
{
    sqlite3_stmt *stmt = nullptr;
    ~Statement() { sqlite3_finalize(stmt); }
};

bool Fail(QString *error, const QString &text)
{
    if (error)
        *error = text;
    return false;
}

bool Exec(sqlite3 *db, const QByteArray &sql, QString *error)
{
    char *message = nullptr;
    if (sqlite3_exec(db, sql.constData(), nullptr, nullptr, &message) == SQLITE_OK)
        return true;
    const QString text = QString::fromUtf8(message ? message : sqlite3_errmsg(db));
    sqlite3_free(message);
    return Fail(error, QStringLiteral("%1: %2").arg(QString::fromUtf8(sql.left(120)), text));
}

void BindText(sqlite3_stmt *stmt, int index, const QByteArray &text)
{
    sqlite3_bind_text(stmt, index, text.constData(), text.size(), SQLITE_TRANSIENT);
}

qint64 ScalarInt(sqlite3 *db, const char *sql)
{
    Statement statement;
    if (sqlite3_prepare_v2(db, sql, -1, &statement.stmt, nullptr) != SQLITE_OK || sqlite3_step(statement.stmt) != SQLITE_ROW)
        return 0;
    return sqlite3_column_int64(statement.stmt, 0);
}

QByteArray CategoryCaption(int uid)
{
    const int count = int(sizeof kCategoryNames / sizeof kCategoryNames[0]);
    QByteArray caption(kCategoryNames[(uid - 1) % count]);
    if (uid > count)
        caption += ' ' + QByteArray::number((uid - 1) / count + 1);
    return caption;
}

QByteArray Description(Random &random, int uid)
{
    QByteArray text;
    text.reserve(640);
    const int sentences = 2 + random.Below(4);
    for (int i = 0; i < sentences; ++i) {
        if (i > 0)
            text += ' ';
        text += Pick(random, kSentenceStarts);
        text += ' ';
        text += Pick(random, kSubjects);
        text += ' ';
        text += Pick(random, kVerbs);
        text += ' ';
        text += Pick(random, kObjects);
        text += '.';
    }
    text += ' ';
    text += Pick(random, kEndings);
    if (uid % 97 == 0)
        text += " 100% satisfaction_guaranteed."; // LIKE wildcards inside the data
    return text;
}

bool CreateSchema(sqlite3 *db, bool withLoadRecall, QString *error)
{
    return Exec(db,
                "CREATE TABLE published_bookinfo("
                "UID INTEGER PRIMARY KEY, LID INTEGER, BookName TEXT, OrgPrice REAL, BookPrice REAL, "
                "BookCatalog TEXT, BookCatalogIDS TEXT, BookAuthor TEXT, BookDate INTEGER, BookPages INTEGER, "
                "BookSize INTEGER, BookStars REAL, BookStarsCount INTEGER, GoLink TEXT, _TransLink TEXT, "
                "IntroLong TEXT, FirstPubTimeGMT INTEGER, LocalCompField INTEGER, _CheckTimeGMT INTEGER, "
                "_ImageCompID INTEGER)",
                error)
        && Exec(db, "CREATE TABLE runtime_cataloginfo(UID INTEGER PRIMARY KEY, LID INTEGER, Calc_BookCount INTEGER, Caption TEXT)",
                error)
        && (!withLoadRecall || Exec(db, "CREATE TABLE native_loadrecall(pname TEXT PRIMARY KEY, pvalue)", error));
}

bool InsertBooks(sqlite3 *db, const CatalogueGeneratorOptions &options, qint64 now, QString *error)
{
    Statement insert;
    if (sqlite3_prepare_v2(db, "INSERT INTO published_bookinfo VALUES(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)", -1,
                           &insert.stmt, nullptr)
        != SQLITE_OK) {
        return Fail(error, QString::fromUtf8(sqlite3_errmsg(db)));
    }
    Random random(options.seed);
    static const qint64 kEdgePages[] = {0, 10, 200, 201, 400, 401};
    static const qint64 kEdgeSizes[] = {512000, 512001, 1048576, 10485760, 52428800, 52428801};
    const qint64 sixtyDays = 60LL * 24 * 3600;
    sqlite3_stmt *stmt = insert.stmt;
    for (int uid = 1; uid <= options.books; ++uid) {
        QByteArray name = QByteArray("The ") + Pick(random, kAdjectives) + ' ' + Pick(random, kNouns);
        if (random.Chance(20))
            name += QByteArray(": Book ") + QByteArray::number(1 + random.Below(7));
        if (uid % 53 == 0)
            name = QByteArray("Don't Forget the ") + Pick(random, kNouns);
        if (uid % 61 == 0)
            name += " & Café";
        const QByteArray author = QByteArray(Pick(random, kFirstNames)) + ' ' + Pick(random, kLastNames);

        QByteArray ids("|");
        QByteArray names;
        const int categoryCount = options.categories > 0 ? 1 + random.Below(3) : 0;
        std::vector<int> chosen;
        for (int i = 0; i < categoryCount; ++i) {
            const int category = 1 + random.Below(options.categories);
            if (std::find(chosen.begin(), chosen.end(), category) != chosen.end())
                continue;
            chosen.push_back(category);
            ids += QByteArray::number(category) + '|';
            if (!names.isEmpty())
                names += ", ";
            names += CategoryCaption(category);
        }
        if (chosen.empty())
            ids.clear();

        const int priceKind = random.Below(100);
        sqlite3_bind_int64(stmt, 1, uid);
        sqlite3_bind_int64(stmt, 2, 500000 + uid);
        BindText(stmt, 3, name);
        if (priceKind < 3)
            sqlite3_bind_null(stmt, 4);
        else if (priceKind < 10)
            sqlite3_bind_double(stmt, 4, 0.0);
        else if (priceKind < 12)
            sqlite3_bind_double(stmt, 4, 50.0);
        else
            sqlite3_bind_double(stmt, 4, double(99 + random.Below(6900)) / 100.0);
        sqlite3_bind_double(stmt, 5, 0.0);
        BindText(stmt, 6, names);
        BindText(stmt, 7, ids);
        BindText(stmt, 8, author);
        sqlite3_bind_int64(stmt, 9, now - 86400LL * (30 + random.Below(3650)));
        if (random.Chance(3))
            sqlite3_bind_null(stmt, 10);
        else if (random.Chance(6))
            sqlite3_bind_int64(stmt, 10, kEdgePages[random.Below(6)]);
        else
            sqlite3_bind_int64(stmt, 10, 1 + random.Below(1200));
        if (random.Chance(3))
            sqlite3_bind_null(stmt, 11);
        else if (random.Chance(6))
            sqlite3_bind_int64(stmt, 11, kEdgeSizes[random.Below(6)]);
        else
            sqlite3_bind_int64(stmt, 11, 20000 + random.Below64(80LL * 1024 * 1024));
        if (random.Chance(8)) {
            sqlite3_bind_null(stmt, 12);
            sqlite3_bind_int64(stmt, 13, 0);
        } else {
            const int starsKind = random.Below(100);
            const double stars = starsKind < 5 ? 5.0 : starsKind < 10 ? 4.8 : double(10 + random.Below(41)) / 10.0;
            sqlite3_bind_double(stmt, 12, stars);
            sqlite3_bind_int64(stmt, 13, 1 + random.Below(25000));
        }
        BindText(stmt, 14, "https://books.tessaly.example/book/" + QByteArray::number(uid));
        BindText(stmt, 15, "https://store.tessaly.example/item/" + QByteArray::number(500000 + uid));
        BindText(stmt, 16, Description(random, uid));
        sqlite3_bind_int64(stmt, 17, now - random.Below64(sixtyDays));
        sqlite3_bind_int64(stmt, 18, qint64(uid) * 7);
        sqlite3_bind_int64(stmt, 19, now - random.Below64(2 * 86400));
        if (random.Chance(4))
            sqlite3_bind_int64(stmt, 20, 0);
        else
            sqlite3_bind_int64(stmt, 20, 9000000 + qint64(uid) * 3);
        if (sqlite3_step(stmt) != SQLITE_DONE)
            return Fail(error, QStringLiteral("cannot insert book %1: %2").arg(uid).arg(QString::fromUtf8(sqlite3_errmsg(db))));
        sqlite3_reset(stmt);
    }
    return true;
}

bool InsertCategories(sqlite3 *db, const CatalogueGeneratorOptions &options, QString *error)
{
    Statement insert;
    if (sqlite3_prepare_v2(db, "INSERT INTO runtime_cataloginfo VALUES(?,?,0,?)", -1, &insert.stmt, nullptr) != SQLITE_OK)
        return Fail(error, QString::fromUtf8(sqlite3_errmsg(db)));
    for (int uid = 1; uid <= options.categories; ++uid) {
        sqlite3_bind_int64(insert.stmt, 1, uid);
        sqlite3_bind_int64(insert.stmt, 2, 7000 + uid);
        BindText(insert.stmt, 3, CategoryCaption(uid));
        if (sqlite3_step(insert.stmt) != SQLITE_DONE)
            return Fail(error, QString::fromUtf8(sqlite3_errmsg(db)));
        sqlite3_reset(insert.stmt);
    }
    return true;
}

bool FillSummary(sqlite3 *db, const CatalogueGeneratorOptions &options, qint64 now, CatalogueGeneratorResult *result,
                 QString *error)
{
    // Counts come from the rows as they finally are, after any extra statements.
    if (!Exec(db,
              "UPDATE runtime_cataloginfo SET Calc_BookCount = (SELECT count(*) FROM published_bookinfo "
              "WHERE BookCatalogIDS LIKE '%|' || runtime_cataloginfo.UID || '|%')",
              error)) {
        return false;
    }
    result->books = ScalarInt(db, "SELECT count(*) FROM published_bookinfo");
    result->categories = ScalarInt(db, "SELECT count(*) FROM runtime_cataloginfo");
    const QByteArray weekSql = "SELECT count(*) FROM published_bookinfo WHERE FirstPubTimeGMT > "
                               + QByteArray::number(now - 7LL * 86400);
    result->weekNew = ScalarInt(db, weekSql.constData());
    result->nowUtc = now;
    result->guid = options.guid.isEmpty() ? QUuid::createUuid().toString(QUuid::WithoutBraces) : options.guid;
    if (options.withoutLoadRecall)
        return true;

    Statement insert;
    if (sqlite3_prepare_v2(db, "INSERT OR REPLACE INTO native_loadrecall VALUES(?,?)", -1, &insert.stmt, nullptr) != SQLITE_OK)
        return Fail(error, QString::fromUtf8(sqlite3_errmsg(db)));
    Random random(options.seed ^ 0x5A5A5A5Aull);
    auto put = [&insert](const char *name, const QVariant &value) {
        sqlite3_bind_text(insert.stmt, 1, name, -1, SQLITE_STATIC);
        if (value.userType() == QMetaType::LongLong) {
            sqlite3_bind_int64(insert.stmt, 2, value.toLongLong());
        } else {
            const QByteArray text = value.toString().toUtf8();
            sqlite3_bind_text(insert.stmt, 2, text.constData(), text.size(), SQLITE_TRANSIENT);
        }
        const bool ok = sqlite3_step(insert.stmt) == SQLITE_DONE;
        sqlite3_reset(insert.stmt);
        return ok;
    };
    const bool ok = put("current_guid", result->guid) && put("free_ebooks_count", QString::number(result->books))
                    && put("current_ebooks_count", QVariant(qlonglong(result->books)))
                    && put("free_ebooks_week_new", QString::number(result->weekNew))
                    && put("free_ebooks_week_revoked", QString::number(random.Below(40)))
                    && put("current_time_utc", QVariant(qlonglong(now)));
    return ok || Fail(error, QString::fromUtf8(sqlite3_errmsg(db)));
}

bool BuildPlain(const CatalogueGeneratorOptions &options, const QString &path, CatalogueGeneratorResult *result,
                QString *error)
{
    if (options.books < 0 || options.categories < 0)
        return Fail(error, QStringLiteral("counts cannot be negative"));
    const qint64 now = options.nowUtc > 0 ? options.nowUtc : QDateTime::currentSecsSinceEpoch();
    Database database;
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &database.db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                        nullptr)
        != SQLITE_OK) {
        return Fail(error, QStringLiteral("cannot create %1").arg(path));
    }
    sqlite3 *db = database.db;
    if (!CatalogueEncrypter::PrepareEmptyDatabase(db, options.pageSize, error) || !Exec(db, "PRAGMA synchronous=OFF", error)
        || !Exec(db, "PRAGMA cache_size=-65536", error) || !Exec(db, "BEGIN", error)
        || !CreateSchema(db, !options.withoutLoadRecall, error) || !InsertCategories(db, options, error)
        || !InsertBooks(db, options, now, error)) {
        return false;
    }
    for (const QString &sql : options.extraSql) {
        if (!Exec(db, sql.toUtf8(), error))
            return false;
    }
    CatalogueGeneratorResult summary;
    if (!FillSummary(db, options, now, &summary, error)
        || !Exec(db, "CREATE INDEX published_bookinfo_pubtime ON published_bookinfo(FirstPubTimeGMT)", error)
        || !Exec(db, "COMMIT", error)) {
        return false;
    }
    if (sqlite3_close(db) != SQLITE_OK)
        return Fail(error, QStringLiteral("cannot close %1").arg(path));
    database.db = nullptr;
    if (result)
        *result = summary;
    return true;
}

} // namespace

bool CatalogueGenerator::GeneratePlain(const CatalogueGeneratorOptions &options, const QString &outPath,
                                       CatalogueGeneratorResult *result, QString *error)
{
    QFile::remove(outPath);
    QFile::remove(outPath + QStringLiteral("-journal"));
    if (BuildPlain(options, outPath, result, error))
        return true;
    QFile::remove(outPath);
    QFile::remove(outPath + QStringLiteral("-journal"));
    return false;
}

bool CatalogueGenerator::Generate(const CatalogueGeneratorOptions &options, const QString &outPath,
                                  CatalogueGeneratorResult *result, QString *error)
{
    if (options.password.isEmpty())
        return Fail(error, QStringLiteral("an encrypted catalogue needs a password"));
    // The plain copy lives next to the output and is removed in every case.
    const QFileInfo target(outPath);
    QTemporaryFile plain(target.absoluteDir().filePath(target.fileName() + QStringLiteral(".plain-XXXXXX")));
    if (!plain.open())
        return Fail(error, QStringLiteral("cannot create a temporary file next to %1").arg(outPath));
    const QString plainPath = plain.fileName();
    plain.close();
    const bool ok = BuildPlain(options, plainPath, result, error)
                    && CatalogueEncrypter::EncryptFile(plainPath, outPath, options.password, error);
    QFile::remove(plainPath + QStringLiteral("-journal"));
    return ok;
}
