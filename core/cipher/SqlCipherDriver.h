#pragma once

#include <QSqlDriver>

#include <memory>

class SqlCipherConnection;

// Qt SQL driver for encrypted catalogues (registered as "SQLITECIPHER").
//
// The database name is the catalogue path and the password is the key; the file is
// always opened read-only and never created. Connect options: "QSQLITE_OPEN_READONLY"
// (implied), "QSQLITE_ENABLE_SHARED_CACHE" and "QSQLITE_BUSY_TIMEOUT=<ms>".
// One connection may be used from several threads (SQLite serialises the handle; each
// query has its own statement). Values: INTEGER -> qlonglong, REAL -> double,
// TEXT -> QString, BLOB -> QByteArray, NULL -> null QVariant.
class SqlCipherDriver : public QSqlDriver
{
    Q_OBJECT
public:
    explicit SqlCipherDriver(QObject *parent = nullptr);
    ~SqlCipherDriver() override;

    bool hasFeature(DriverFeature feature) const override;
    bool open(const QString &db, const QString &user, const QString &password, const QString &host, int port,
              const QString &connectOptions) override;
    void close() override;
    QSqlResult *createResult() const override;
    bool beginTransaction() override;
    bool commitTransaction() override;
    bool rollbackTransaction() override;
    QStringList tables(QSql::TableType type) const override;
    QSqlRecord record(const QString &tableName) const override;
    QSqlIndex primaryIndex(const QString &tableName) const override;
    QString escapeIdentifier(const QString &identifier, IdentifierType type) const override;
    QVariant handle() const override;

private:
    bool ExecSimple(const QString &sql, const QString &what);
    void FailOpen(const QString &text, int code);

    std::shared_ptr<SqlCipherConnection> connection;
};
