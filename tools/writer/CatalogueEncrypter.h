#pragma once

#include <QByteArray>
#include <QString>

// Writes encrypted catalogues for the project's tools and tests.
//
// EncryptFile takes a plain SQLite database whose pages reserve 32 bytes (header byte 20),
// in rollback-journal mode, closed cleanly; it encrypts it page by page with a fresh salt
// and fresh nonces into a temporary file that replaces the output only when complete.
// RemakeWithReserve copies any plain database into one that meets those conditions
// (VACUUM INTO with the reserve set), leaving the source untouched.
class CatalogueEncrypter
{
public:
    CatalogueEncrypter() = delete;

    static bool EncryptFile(const QString &plainPath, const QString &outPath, const QByteArray &password,
                            QString *error = nullptr);

    static bool RemakeWithReserve(const QString &sourcePath, const QString &outPath, QString *error = nullptr);

    // Sets 32 reserve bytes on a freshly opened, still empty database handle (a sqlite3*),
    // before its first page is written.
    static bool PrepareEmptyDatabase(void *sqliteHandle, int pageSize, QString *error = nullptr);
};
