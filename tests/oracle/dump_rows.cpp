// Prints the rows of one query on an encrypted catalogue, read through the SQLITECIPHER
// driver, as JSON lines for the cross-check script: one array per row, each value
// tagged with its type. Integers are printed as decimal text (no precision loss).
//
//   cipher_oracle_dump FILE "SQL"      (password in TESSALY_ORACLE_PASSWORD)
// Exit status: 0 rows printed, 2 the catalogue did not open, 3 the query failed.
#include "cipher/SqlCipherDriverRegistration.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

#include <cstdio>

namespace {

QJsonObject Tagged(const QVariant &value)
{
    if (value.isNull())
        return QJsonObject{{"t", "n"}};
    const auto tagged = [](const char *tag, const QString &text) { return QJsonObject{{"t", tag}, {"v", text}}; };
    switch (value.userType()) {
    case QMetaType::LongLong:
        return tagged("i", QString::number(value.toLongLong()));
    case QMetaType::Double: // shortest text that reads back as the same double
        return tagged("r", QString::number(value.toDouble(), 'g', 17));
    case QMetaType::QString:
        return tagged("s", value.toString());
    case QMetaType::QByteArray:
        return tagged("b", QString::fromLatin1(value.toByteArray().toHex()));
    default:
        return tagged("?", QString::fromLatin1(value.typeName()));
    }
}

// Prints the rows; the exit status.
int Dump(const QString &file, const QString &sql)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("SQLITECIPHER"), QStringLiteral("dump"));
    db.setDatabaseName(file);
    db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_ENABLE_SHARED_CACHE"));
    db.setPassword(QString::fromUtf8(qgetenv("TESSALY_ORACLE_PASSWORD")));
    if (!db.open()) {
        std::fprintf(stderr, "open failed: %s\n", db.lastError().text().toUtf8().constData());
        return 2;
    }
    QSqlQuery query(db);
    query.setForwardOnly(true);
    const bool ran = query.exec(sql);
    const int columns = query.record().count();
    while (ran && query.next()) {
        QJsonArray row;
        for (int i = 0; i < columns; ++i)
            row.append(Tagged(query.value(i)));
        std::printf("%s\n", QJsonDocument(row).toJson(QJsonDocument::Compact).constData());
    }
    if (!query.lastError().isValid())
        return 0;
    std::fprintf(stderr, "%s failed: %s\n", ran ? "read" : "query", query.lastError().text().toUtf8().constData());
    return 3;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() != 3) {
        std::fprintf(stderr, "usage: cipher_oracle_dump FILE SQL\n");
        return 1;
    }
    RegisterSqlCipherDriver();
    const int status = Dump(arguments.at(1), arguments.at(2)); // the connection is gone before its removal
    QSqlDatabase::removeDatabase(QStringLiteral("dump"));
    return status;
}
