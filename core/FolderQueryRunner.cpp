#include "FolderQueryRunner.h"

#include "FolderQuery.h"
#include "ItemDataSaver.h"

#include <QDebug>
#include <QSqlError>
#include <QSqlQuery>

namespace FolderQueryRunner {

QList<qint64> SelectUids(ItemDataSaver *items, const QString &table, const QString &where,
                         const QString &orderBy, bool *ok)
{
    QList<qint64> ids;
    bool success = false;
    DatabaseHolder *holder = items ? items->database : nullptr;
    if (!holder) {
        qDebug().noquote() << QStringLiteral("SQL Error: ") + QStringLiteral("no catalogue");
    } else {
        QReadLocker locker(&holder->lock);
        if (!holder->db.isOpen()) {
            qDebug().noquote() << QStringLiteral("SQL Error: ") + QStringLiteral("no open catalogue");
        } else {
            QSqlQuery query(holder->db);
            query.setForwardOnly(true);
            if (!query.exec(MakeSelectUidsText(table, where, orderBy))) {
                qDebug().noquote() << QStringLiteral("SQL Error: ") + query.lastError().text();
            } else {
                success = true;
                while (query.next()) {
                    const QVariant value = query.value(0);
                    if (!value.isNull())
                        ids.append(value.toLongLong());
                }
            }
        }
    }
    if (!success)
        ids.clear();
    if (ok && !success)
        *ok = false;
    return ids;
}

} // namespace FolderQueryRunner
