#pragma once

#include <QList>
#include <QString>

#include <functional>

class ItemDataSaver;

// The id queries of many folders in one pass over the book table. One SELECT returns every
// book's UID with what puts it in the order of the folder queries, its category ids, and bit
// columns that say which where texts the book meets (SQLite evaluates each text exactly as in the folder's own
// WHERE). Each folder thus gets the ids, in the order, of "select UID from <books> where
// <where> order by <order>", at the cost of about one walk over the table instead of one per
// folder.
class FolderBatchQuery
{
public:
    enum Result { Done, Failed, Stopped };

    struct Condition
    {
        // The folder's where text; empty selects every book.
        QString where;
        // Set when the where text is the category test (DisplayDataSaver::CategoryWhere: the
        // bounded id text like '%<token>%') for a token "|<id>|": the pass then finds the token
        // in that id text itself, which is what LIKE does for a pattern without letters or
        // wildcards, at a fraction of the cost.
        QString categoryToken;
    };

    // results[i] gets the ids for conditions[i]. `stopped` is asked now and then while the
    // rows are read, and when the query ends early. The caller holds the catalogue store's lock.
    // Failed (results empty) when the query cannot run and no stop ended it; the caller then
    // runs the folder queries one by one, which tells the folders that fail from the others.
    static Result Run(ItemDataSaver *items, const QList<Condition> &conditions, QList<QList<qint64>> *results,
                      const std::function<bool()> &stopped);

    // The text of the one SELECT.
    static QString MakeText(const QString &table, const QList<Condition> &conditions, const QString &orderBy);

    // The order of the folder queries that the pass gives by sorting the rows itself.
    static const QString IndexOrder;

    // Bits per result column: a column is a signed 64-bit integer.
    static const int BitsPerColumn = 62;
    // Rows read between two questions to `stopped`.
    static const int RowsPerStopCheck = 1024;
};
