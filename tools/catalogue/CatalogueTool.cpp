#include "CatalogueTool.h"

#include "catalogue/DatabaseHolder.h"
#include "Helper.h"
#include "catalogue/ItemCategory.h"
#include "catalogue/ItemDataSaver.h"
#include "writer/CatalogueEncrypter.h"
#include "writer/CatalogueGenerator.h"
#include "cipher/CipherPageCodec.h"
#include "cipher/SqlCipherDriverRegistration.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QReadLocker>
#include <QSqlError>
#include <QTemporaryFile>
#include <QTextStream>
#include <QWriteLocker>

#include <cstring>

namespace {

struct ParsedArguments
{
    QStringList positional;
    QHash<QString, QString> options;
    QString problem;
};

ParsedArguments Parse(const QStringList &arguments, const QStringList &valueOptions)
{
    ParsedArguments parsed;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        if (!argument.startsWith(QLatin1String("--"))) {
            parsed.positional.append(argument);
            continue;
        }
        QString name = argument.mid(2);
        QString value;
        const int equals = name.indexOf(QLatin1Char('='));
        if (equals >= 0) {
            value = name.mid(equals + 1);
            name = name.left(equals);
        } else if (i + 1 < arguments.size()) {
            value = arguments.at(++i);
        } else {
            parsed.problem = QStringLiteral("option --%1 needs a value").arg(name);
            return parsed;
        }
        if (!valueOptions.contains(name)) {
            parsed.problem = QStringLiteral("unknown option --%1").arg(name);
            return parsed;
        }
        parsed.options.insert(name, value);
    }
    return parsed;
}

bool ToNumber(const QString &text, qint64 minimum, qint64 *value)
{
    bool ok = false;
    const qint64 number = text.toLongLong(&ok);
    if (!ok || number < minimum)
        return false;
    *value = number;
    return true;
}

QString OneLine(QString text)
{
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return text.trimmed();
}

// The store reports open failures on the debug stream; keep the last one for our own message.
QString g_lastSqlError;

void CaptureMessages(QtMsgType, const QMessageLogContext &, const QString &message)
{
    if (message.startsWith(QLatin1String("SQL Error: ")))
        g_lastSqlError = message.mid(11);
}

// True for a plain SQLite file that can be encrypted as it is.
bool IsReadyToEncrypt(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray header = file.read(100);
    return header.size() == 100
           && std::memcmp(header.constData(), CipherPageCodec::SqliteMagic, sizeof CipherPageCodec::SqliteMagic) == 0
           && quint8(header.at(20)) == CipherPageCodec::ReserveSize && header.at(18) == 1 && header.at(19) == 1;
}

} // namespace

CatalogueTool::CatalogueTool(QTextStream &outStream, QTextStream &errStream)
    : out(outStream)
    , err(errStream)
{
}

QByteArray CatalogueTool::DefaultPassword()
{
    return Helper::GetCatalogPassword().toUtf8();
}

int CatalogueTool::Usage(const QString &problem)
{
    err << "tessaly-catalogue: " << problem << '\n'
        << "usage: tessaly-catalogue generate --books N [--categories M] [--seed S] [--password P] "
           "[--page-size B] [--now SECONDS] --out FILE\n"
        << "       tessaly-catalogue encrypt PLAIN OUT [--password P]\n"
        << "       tessaly-catalogue info FILE [--password P]\n"
        << "       tessaly-catalogue site --books N [--seed S] --out DIR | --update DIR\n";
    return 1;
}

int CatalogueTool::Failure(const QString &problem)
{
    err << "tessaly-catalogue: " << OneLine(problem) << '\n';
    return 2;
}

int CatalogueTool::Run(const QStringList &arguments)
{
    if (arguments.isEmpty())
        return Usage(QStringLiteral("no command given"));
    const QString command = arguments.first();
    const QStringList rest = arguments.mid(1);
    if (command == QLatin1String("generate"))
        return Generate(rest);
    if (command == QLatin1String("encrypt"))
        return Encrypt(rest);
    if (command == QLatin1String("info"))
        return Info(rest);
    return Usage(QStringLiteral("unknown command %1").arg(command));
}

int CatalogueTool::Generate(const QStringList &arguments)
{
    const ParsedArguments parsed = Parse(arguments, {QStringLiteral("books"), QStringLiteral("categories"),
                                                     QStringLiteral("seed"), QStringLiteral("password"),
                                                     QStringLiteral("page-size"), QStringLiteral("now"),
                                                     QStringLiteral("out")});
    if (!parsed.problem.isEmpty())
        return Usage(parsed.problem);
    if (!parsed.positional.isEmpty())
        return Usage(QStringLiteral("unexpected argument %1").arg(parsed.positional.first()));
    CatalogueGeneratorOptions options;
    qint64 number = 0;
    if (!parsed.options.contains(QStringLiteral("books")) || !ToNumber(parsed.options.value(QStringLiteral("books")), 0, &number)
        || number > 10000000)
        return Usage(QStringLiteral("--books needs a count from 0 to 10000000"));
    options.books = int(number);
    if (parsed.options.contains(QStringLiteral("categories"))) {
        if (!ToNumber(parsed.options.value(QStringLiteral("categories")), 0, &number) || number > 100000)
            return Usage(QStringLiteral("--categories needs a count from 0 to 100000"));
        options.categories = int(number);
    }
    if (parsed.options.contains(QStringLiteral("seed"))) {
        bool ok = false;
        options.seed = parsed.options.value(QStringLiteral("seed")).toULongLong(&ok);
        if (!ok)
            return Usage(QStringLiteral("--seed needs a number"));
    }
    if (parsed.options.contains(QStringLiteral("page-size"))) {
        if (!ToNumber(parsed.options.value(QStringLiteral("page-size")), 0, &number)
            || !CipherPageCodec::IsValidPageSize(int(number)))
            return Usage(QStringLiteral("--page-size needs a power of two from 512 to 65536"));
        options.pageSize = int(number);
    }
    if (parsed.options.contains(QStringLiteral("now"))) {
        if (!ToNumber(parsed.options.value(QStringLiteral("now")), 1, &number))
            return Usage(QStringLiteral("--now needs seconds since 1970"));
        options.nowUtc = number;
    }
    const QString outPath = parsed.options.value(QStringLiteral("out"));
    if (outPath.isEmpty())
        return Usage(QStringLiteral("--out FILE is required"));
    options.password = parsed.options.contains(QStringLiteral("password"))
                           ? parsed.options.value(QStringLiteral("password")).toUtf8()
                           : DefaultPassword();
    if (options.password.isEmpty())
        return Usage(QStringLiteral("the password cannot be empty"));

    QElapsedTimer timer;
    timer.start();
    CatalogueGeneratorResult result;
    QString error;
    if (!CatalogueGenerator::Generate(options, outPath, &result, &error))
        return Failure(error);
    out << "wrote " << outPath << ": " << result.books << " books, " << result.categories << " categories, guid "
        << result.guid << " in " << timer.elapsed() << " ms\n";
    return 0;
}

int CatalogueTool::Encrypt(const QStringList &arguments)
{
    const ParsedArguments parsed = Parse(arguments, {QStringLiteral("password")});
    if (!parsed.problem.isEmpty())
        return Usage(parsed.problem);
    if (parsed.positional.size() != 2)
        return Usage(QStringLiteral("encrypt needs PLAIN and OUT"));
    const QString plainPath = parsed.positional.at(0);
    const QString outPath = parsed.positional.at(1);
    const QByteArray password = parsed.options.contains(QStringLiteral("password"))
                                    ? parsed.options.value(QStringLiteral("password")).toUtf8()
                                    : DefaultPassword();
    if (password.isEmpty())
        return Usage(QStringLiteral("the password cannot be empty"));
    if (!QFileInfo(plainPath).isFile())
        return Failure(QStringLiteral("%1 does not exist").arg(plainPath));
    if (QFileInfo(plainPath).absoluteFilePath() == QFileInfo(outPath).absoluteFilePath())
        return Failure(QStringLiteral("the output must not replace the plain database"));

    QString error;
    if (IsReadyToEncrypt(plainPath)) {
        if (!CatalogueEncrypter::EncryptFile(plainPath, outPath, password, &error))
            return Failure(error);
        return 0;
    }
    // Re-make a copy with the 32 reserved bytes; the source stays as it is.
    const QFileInfo target(outPath);
    QTemporaryFile remade(target.absoluteDir().filePath(target.fileName() + QStringLiteral(".remade-XXXXXX")));
    if (!remade.open())
        return Failure(QStringLiteral("cannot create a temporary file next to %1").arg(outPath));
    const QString remadePath = remade.fileName();
    remade.close();
    const bool ok = CatalogueEncrypter::RemakeWithReserve(plainPath, remadePath, &error)
                    && CatalogueEncrypter::EncryptFile(remadePath, outPath, password, &error);
    QFile::remove(remadePath + QStringLiteral("-journal"));
    return ok ? 0 : Failure(error);
}

int CatalogueTool::Info(const QStringList &arguments)
{
    const ParsedArguments parsed = Parse(arguments, {QStringLiteral("password")});
    if (!parsed.problem.isEmpty())
        return Usage(parsed.problem);
    if (parsed.positional.size() != 1)
        return Usage(QStringLiteral("info needs one FILE"));
    const QString path = parsed.positional.first();
    const QByteArray defaultPassword = DefaultPassword();
    const QByteArray password = parsed.options.contains(QStringLiteral("password"))
                                    ? parsed.options.value(QStringLiteral("password")).toUtf8()
                                    : defaultPassword;
    if (password.isEmpty())
        return Usage(QStringLiteral("the password cannot be empty"));
    const QFileInfo file(path);
    if (!file.exists())
        return Failure(QStringLiteral("%1 does not exist").arg(path));
    if (file.isDir())
        return Failure(QStringLiteral("%1 is a directory").arg(path));
    if (!file.isFile())
        return Failure(QStringLiteral("%1 is not a regular file").arg(path));
    if (!file.isReadable())
        return Failure(QStringLiteral("%1 cannot be read (no permission)").arg(path));
    RegisterSqlCipherDriver();
    const QString booksSql = QStringLiteral("select count(*) from published_bookinfo");

    QString guid;
    QString status;
    qint64 categoryCount = 0;
    QVariant books;
    if (password == defaultPassword) {
        // The program's own path: the store opens, checks and swaps the catalogue in.
        ItemDataSaver store;
        const QtMessageHandler previous = qInstallMessageHandler(CaptureMessages);
        const bool loaded = store.LoadDatabase(path);
        qInstallMessageHandler(previous);
        if (!loaded)
            return Failure(QStringLiteral("cannot read %1: %2").arg(path, g_lastSqlError));
        QReadLocker locker(&store.lock);
        guid = store.currentGuid;
        status = store.statusText;
        categoryCount = store.categories->size();
        books = ItemDataSaver::QuerySingleValue(store.database, booksSql);
    } else {
        // Another key: the store's own opening and check, then its readers.
        DatabaseHolder holder;
        const QtMessageHandler previous = qInstallMessageHandler(CaptureMessages);
        const bool opened = ItemDataSaver::OpenDatabase(&holder, path, password);
        qInstallMessageHandler(previous);
        if (!opened)
            return Failure(QStringLiteral("cannot read %1: %2").arg(path, g_lastSqlError));
        books = ItemDataSaver::QuerySingleValue(&holder, booksSql);
        qint64 knownBooks = 0;
        ItemDataSaver::ReadLoadRecall(&holder, status, guid, knownBooks);
        ItemDataSaver::CategoryHash categories;
        ItemDataSaver::BigCategoryList bigCategories;
        ItemDataSaver::LoadCategories(&holder, categories, bigCategories);
        categoryCount = categories.size();
        qDeleteAll(categories);
    }
    if (!books.isValid())
        return Failure(QStringLiteral("cannot read %1: the book table cannot be read").arg(path));
    out << "guid=" << guid << '\n'
        << "books=" << books.toLongLong() << '\n'
        << "categories=" << categoryCount << '\n'
        << "status=" << status << '\n';
    return 0;
}
