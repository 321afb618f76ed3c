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
    QJsonObject tagged;
    if (value.isNull()) {
        tagged.insert(QStringLiteral("t"), QStringLiteral("n"));
        return tagged;
    }
    switch (value.userType()) {
    case QMetaType::LongLong:
        tagged.insert(QStringLiteral("t"), QStringLiteral("i"));
        tagged.insert(QStringLiteral("v"), QString::number(value.toLongLong()));
        break;
    case QMetaType::Double:
        tagged.insert(QStringLiteral("t"), QStringLiteral("r"));
        // Shortest text that reads back as the same double.
        tagged.insert(QStringLiteral("v"), QString::number(value.toDouble(), 'g', 17));
        break;
    case QMetaType::QString:
        tagged.insert(QStringLiteral("t"), QStringLiteral("s"));
        tagged.insert(QStringLiteral("v"), value.toString());
        break;
    case QMetaType::QByteArray:
        tagged.insert(QStringLiteral("t"), QStringLiteral("b"));
        tagged.insert(QStringLiteral("v"), QString::fromLatin1(value.toByteArray().toHex()));
        break;
    default:
        tagged.insert(QStringLiteral("t"), QStringLiteral("?"));
        tagged.insert(QStringLiteral("v"), QString::fromLatin1(value.typeName()));
        break;
    }
    return tagged;
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
    int status = 0;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("SQLITECIPHER"), QStringLiteral("dump"));
        db.setDatabaseName(arguments.at(1));
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_ENABLE_SHARED_CACHE"));
        db.setPassword(QString::fromUtf8(qgetenv("TESSALY_ORACLE_PASSWORD")));
        if (!db.open()) {
            std::fprintf(stderr, "open failed: %s\n", db.lastError().text().toUtf8().constData());
            status = 2;
        } else {
            QSqlQuery query(db);
            query.setForwardOnly(true);
            if (!query.exec(arguments.at(2))) {
                std::fprintf(stderr, "query failed: %s\n", query.lastError().text().toUtf8().constData());
                status = 3;
            } else {
                const int columns = query.record().count();
                while (query.next()) {
                    QJsonArray row;
                    for (int i = 0; i < columns; ++i)
                        row.append(Tagged(query.value(i)));
                    const QByteArray line = QJsonDocument(row).toJson(QJsonDocument::Compact);
                    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
                    std::fputc('\n', stdout);
                }
                if (query.lastError().isValid()) {
                    std::fprintf(stderr, "read failed: %s\n", query.lastError().text().toUtf8().constData());
                    status = 3;
                }
            }
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("dump"));
    return status;
}
