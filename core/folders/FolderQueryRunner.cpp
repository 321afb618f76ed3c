#include "folders/FolderQueryRunner.h"

#include "folders/FolderQuery.h"
#include "catalogue/ItemDataSaver.h"

#include <QDebug>
#include <QSqlError>
#include <QSqlQuery>

namespace {

QList<qint64> Failed(const QString &reason, bool *ok)
{
    qDebug().noquote() << QStringLiteral("SQL Error: ") + reason;
    if (ok)
        *ok = false;
    return QList<qint64>();
}

} // namespace

namespace FolderQueryRunner {

QList<qint64> SelectUids(ItemDataSaver *items, const QString &table, const QString &where,
                         const QString &orderBy, bool *ok)
{
    DatabaseHolder *holder = items ? items->database : nullptr;
    if (!holder)
        return Failed(QStringLiteral("no catalogue"), ok);
    QReadLocker locker(&holder->lock);
    if (!holder->db.isOpen())
        return Failed(QStringLiteral("no open catalogue"), ok);
    QSqlQuery query(holder->db);
    query.setForwardOnly(true);
    if (!query.exec(MakeSelectUidsText(table, where, orderBy)))
        return Failed(query.lastError().text(), ok);
    QList<qint64> ids;
    while (query.next()) {
        const QVariant value = query.value(0);
        if (!value.isNull())
            ids.append(value.toLongLong());
    }
    return ids;
}

} // namespace FolderQueryRunner
