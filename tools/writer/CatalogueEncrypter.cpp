#include "writer/CatalogueEncrypter.h"

#include "cipher/CipherPageCodec.h"

#include <QFile>
#include <QSaveFile>

#include <openssl/crypto.h>
#include <openssl/rand.h>
#include <sqlite3.h>

#include <cstring>
#include <vector>

namespace {

bool SetError(QString *error, const QString &text)
{
    if (error)
        *error = text;
    return false;
}

QString SqliteMessage(sqlite3 *db)
{
    return db ? QString::fromUtf8(sqlite3_errmsg(db)) : QStringLiteral("out of memory");
}

bool Exec(sqlite3 *db, const char *sql, QString *error)
{
    if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK)
        return true;
    return SetError(error, QStringLiteral("%1: %2").arg(QString::fromUtf8(sql), SqliteMessage(db)));
}

// The page that holds file offset 2^30 is never used by SQLite and is copied as it is.
constexpr qint64 kLockByteOffset = 0x40000000;

} // namespace

bool CatalogueEncrypter::EncryptFile(const QString &plainPath, const QString &outPath, const QByteArray &password,
                                     QString *error)
{
    const QString problem = CipherPageCodec::PasswordProblem(password);
    if (!problem.isEmpty())
        return SetError(error, problem);
    if (QFile::exists(plainPath + QStringLiteral("-journal")) || QFile::exists(plainPath + QStringLiteral("-wal")))
        return SetError(error, QStringLiteral("%1 was not closed cleanly (a journal exists)").arg(plainPath));

    QFile in(plainPath);
    if (!in.open(QIODevice::ReadOnly))
        return SetError(error, QStringLiteral("cannot open %1: %2").arg(plainPath, in.errorString()));
    uint8_t header[100];
    if (in.read(reinterpret_cast<char *>(header), sizeof header) != qint64(sizeof header)
        || std::memcmp(header, CipherPageCodec::SqliteMagic, sizeof CipherPageCodec::SqliteMagic) != 0) {
        return SetError(error, QStringLiteral("%1 is not a plain SQLite database").arg(plainPath));
    }
    const int pageSize = CipherPageCodec::PageSizeFromHeader(header);
    if (pageSize == 0)
        return SetError(error, QStringLiteral("%1 has an unsupported page size").arg(plainPath));
    if (header[20] != CipherPageCodec::ReserveSize)
        return SetError(error, QStringLiteral("%1 does not reserve 32 bytes per page").arg(plainPath));
    if (header[18] != 1 || header[19] != 1)
        return SetError(error, QStringLiteral("%1 is not in rollback-journal mode").arg(plainPath));
    const qint64 size = in.size();
    if (size % pageSize != 0)
        return SetError(error, QStringLiteral("%1 is not made of whole pages").arg(plainPath));
    in.seek(0);

    uint8_t salt[CipherPageCodec::SaltSize];
    uint8_t key[CipherPageCodec::KeySize];
    if (RAND_bytes(salt, sizeof salt) != 1 || !CipherPageCodec::DeriveKey(password, salt, key))
        return SetError(error, QStringLiteral("cannot derive the catalogue key"));
    CipherPageCodec codec;
    codec.SetKey(key);
    OPENSSL_cleanse(key, sizeof key);
    if (!codec.IsValid())
        return SetError(error, QStringLiteral("ChaCha20 or Poly1305 is not available from OpenSSL"));

    QSaveFile out(outPath);
    if (!out.open(QIODevice::WriteOnly))
        return SetError(error, QStringLiteral("cannot write %1: %2").arg(outPath, out.errorString()));
    std::vector<uint8_t> page(size_t(pageSize), 0);
    const qint64 pages = size / pageSize;
    for (qint64 index = 0; index < pages; ++index) {
        if (in.read(reinterpret_cast<char *>(page.data()), pageSize) != pageSize) {
            out.cancelWriting();
            return SetError(error, QStringLiteral("cannot read %1: %2").arg(plainPath, in.errorString()));
        }
        const qint64 offset = index * pageSize;
        const bool lockBytePage = offset <= kLockByteOffset && kLockByteOffset < offset + pageSize;
        if (!lockBytePage
            && codec.EncryptPage(page.data(), pageSize, uint32_t(index + 1), salt) != CipherPageCodec::Result::Ok) {
            out.cancelWriting();
            return SetError(error, QStringLiteral("cannot encrypt page %1").arg(index + 1));
        }
        if (out.write(reinterpret_cast<const char *>(page.data()), pageSize) != pageSize) {
            out.cancelWriting();
            return SetError(error, QStringLiteral("cannot write %1: %2").arg(outPath, out.errorString()));
        }
    }
    if (!out.commit())
        return SetError(error, QStringLiteral("cannot write %1: %2").arg(outPath, out.errorString()));
    return true;
}

bool CatalogueEncrypter::PrepareEmptyDatabase(void *sqliteHandle, int pageSize, QString *error)
{
    sqlite3 *db = static_cast<sqlite3 *>(sqliteHandle);
    if (!CipherPageCodec::IsValidPageSize(pageSize))
        return SetError(error, QStringLiteral("unsupported page size %1").arg(pageSize));
    const QByteArray pragma = "PRAGMA page_size=" + QByteArray::number(pageSize);
    if (!Exec(db, pragma.constData(), error) || !Exec(db, "PRAGMA journal_mode=DELETE", error))
        return false;
    int reserve = CipherPageCodec::ReserveSize;
    if (sqlite3_file_control(db, "main", SQLITE_FCNTL_RESERVE_BYTES, &reserve) != SQLITE_OK)
        return SetError(error, QStringLiteral("cannot reserve bytes: %1").arg(SqliteMessage(db)));
    return true;
}

bool CatalogueEncrypter::RemakeWithReserve(const QString &sourcePath, const QString &outPath, QString *error)
{
    if (QFile::exists(outPath) && !QFile::remove(outPath))
        return SetError(error, QStringLiteral("cannot replace %1").arg(outPath));
    sqlite3 *db = nullptr;
    int rc = sqlite3_open_v2(QFile::encodeName(sourcePath).constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    if (rc != SQLITE_OK) {
        const QString message = SqliteMessage(db);
        sqlite3_close(db);
        return SetError(error, QStringLiteral("cannot open %1: %2").arg(sourcePath, message));
    }
    int reserve = CipherPageCodec::ReserveSize;
    sqlite3_file_control(db, "main", SQLITE_FCNTL_RESERVE_BYTES, &reserve);
    sqlite3_stmt *stmt = nullptr;
    rc = sqlite3_prepare_v2(db, "VACUUM INTO ?1", -1, &stmt, nullptr);
    if (rc == SQLITE_OK) {
        const QByteArray target = QFile::encodeName(outPath);
        sqlite3_bind_text(stmt, 1, target.constData(), target.size(), SQLITE_TRANSIENT);
        rc = sqlite3_step(stmt);
    }
    const QString message = SqliteMessage(db);
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    if (rc != SQLITE_DONE)
        return SetError(error, QStringLiteral("cannot copy %1: %2").arg(sourcePath, message));

    // The copy may carry the source's WAL mode; catalogues use the rollback journal.
    rc = sqlite3_open_v2(QFile::encodeName(outPath).constData(), &db, SQLITE_OPEN_READWRITE, nullptr);
    const bool ok = rc == SQLITE_OK && Exec(db, "PRAGMA journal_mode=DELETE", error);
    sqlite3_close(db);
    if (!ok && rc != SQLITE_OK)
        return SetError(error, QStringLiteral("cannot reopen %1").arg(outPath));
    return ok;
}
