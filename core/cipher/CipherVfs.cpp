#include "cipher/CipherVfs.h"

#include "cipher/CipherPageCodec.h"

#include <QHash>
#include <mutex>


#include <openssl/crypto.h>
#include <sqlite3.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace {

thread_local QString t_lastOpenFailure;

struct VfsInstance
{
    sqlite3_vfs vfs;
    sqlite3_vfs *base = nullptr;
    QByteArray name;
    QByteArray password;
    std::mutex keyMutex;
    QHash<QByteArray, QByteArray> keyBySalt; // salt -> derived key

    ~VfsInstance()
    {
        ForgetKeys();
        OPENSSL_cleanse(password.data(), size_t(password.size()));
    }

    // Wipes and drops every derived key (the caller holds keyMutex, or is the destructor).
    void ForgetKeys()
    {
        for (auto it = keyBySalt.begin(); it != keyBySalt.end(); ++it)
            OPENSSL_cleanse(it.value().data(), size_t(it.value().size()));
        keyBySalt.clear();
    }

    bool KeyForSalt(const uint8_t salt[CipherPageCodec::SaltSize], uint8_t key[CipherPageCodec::KeySize])
    {
        const QByteArray saltBytes(reinterpret_cast<const char *>(salt), CipherPageCodec::SaltSize);
        {
            std::lock_guard<std::mutex> locker(keyMutex);
            const auto it = keyBySalt.constFind(saltBytes);
            if (it != keyBySalt.constEnd()) {
                std::memcpy(key, it.value().constData(), CipherPageCodec::KeySize);
                return true;
            }
        }
        // The derivation takes tens of milliseconds: run it without the lock.
        if (!CipherPageCodec::DeriveKey(password, salt, key))
            return false;
        std::lock_guard<std::mutex> locker(keyMutex);
        if (keyBySalt.size() >= 32)
            ForgetKeys();
        keyBySalt.insert(saltBytes, QByteArray(reinterpret_cast<const char *>(key), CipherPageCodec::KeySize));
        return true;
    }
};

struct FileState
{
    int pageSize = 0;
    bool presentAsRollback = false; // WAL-mode header shown as rollback mode (no -wal file exists)
    CipherPageCodec codec;
    std::vector<uint8_t> scratch;
};

// Main database files only; other files are opened by the base VFS directly in our memory.
struct CipherFile
{
    sqlite3_file base;
    sqlite3_file *real;
    FileState *state;
};

VfsInstance *Instance(sqlite3_vfs *vfs)
{
    return static_cast<VfsInstance *>(vfs->pAppData);
}

CipherFile *AsCipher(sqlite3_file *file)
{
    return reinterpret_cast<CipherFile *>(file);
}

// ---- io methods of a main database file ----

int CipherClose(sqlite3_file *file)
{
    CipherFile *cf = AsCipher(file);
    int rc = SQLITE_OK;
    if (cf->real->pMethods)
        rc = cf->real->pMethods->xClose(cf->real);
    delete cf->state;
    cf->state = nullptr;
    return rc;
}

void FixPageOne(FileState *state, uint8_t *page)
{
    if (state->presentAsRollback) {
        page[18] = 1;
        page[19] = 1;
    }
}

// Reads one whole page and decrypts it.
int ReadPage(CipherFile *cf, uint8_t *page, uint32_t pgno)
{
    FileState *state = cf->state;
    const sqlite3_int64 offset = sqlite3_int64(pgno - 1) * state->pageSize;
    const int rc = cf->real->pMethods->xRead(cf->real, page, state->pageSize, offset);
    if (rc != SQLITE_OK)
        return rc; // a short read passes through with its zero-filled buffer, undecrypted
    const CipherPageCodec::Result result = state->codec.DecryptPage(page, state->pageSize, pgno);
    if (result != CipherPageCodec::Result::Ok) {
        std::memset(page, 0, size_t(state->pageSize));
        return result == CipherPageCodec::Result::BadMac ? SQLITE_CORRUPT : SQLITE_IOERR_READ;
    }
    if (pgno == 1)
        FixPageOne(state, page);
    return SQLITE_OK;
}

int ReadWholePages(CipherFile *cf, uint8_t *buffer, int amount, sqlite3_int64 offset)
{
    FileState *state = cf->state;
    const int pages = amount / state->pageSize;
    for (int i = 0; i < pages; ++i) {
        uint8_t *page = buffer + size_t(i) * size_t(state->pageSize);
        const uint32_t pgno = uint32_t(offset / state->pageSize) + uint32_t(i) + 1;
        const int rc = ReadPage(cf, page, pgno);
        if (rc == SQLITE_IOERR_SHORT_READ) {
            std::memset(page, 0, size_t(amount) - size_t(i) * size_t(state->pageSize));
            return rc;
        }
        if (rc != SQLITE_OK) {
            std::memset(buffer, 0, size_t(amount));
            return rc;
        }
    }
    return SQLITE_OK;
}

int CipherRead(sqlite3_file *file, void *out, int amount, sqlite3_int64 offset)
{
    CipherFile *cf = AsCipher(file);
    FileState *state = cf->state;
    const int pageSize = state->pageSize;
    if (offset % pageSize == 0 && amount % pageSize == 0)
        return ReadWholePages(cf, static_cast<uint8_t *>(out), amount, offset);

    // Sub-page reads (the 100-byte header, the change counter at offset 24): decrypt the
    // whole page and copy out the range, so SQLite sees plain bytes and keeps its cache.
    uint8_t *dest = static_cast<uint8_t *>(out);
    int remaining = amount;
    sqlite3_int64 position = offset;
    while (remaining > 0) {
        const sqlite3_int64 pageStart = position - position % pageSize;
        const int inPage = int(position - pageStart);
        const int take = std::min(remaining, pageSize - inPage);
        const int rc = ReadWholePages(cf, state->scratch.data(), pageSize, pageStart);
        if (rc == SQLITE_IOERR_SHORT_READ) {
            std::memset(dest, 0, size_t(remaining));
            return rc;
        }
        if (rc != SQLITE_OK) {
            std::memset(out, 0, size_t(amount));
            return rc;
        }
        std::memcpy(dest, state->scratch.data() + inPage, size_t(take));
        dest += take;
        remaining -= take;
        position += take;
    }
    return SQLITE_OK;
}

int CipherWrite(sqlite3_file *, const void *, int, sqlite3_int64)
{
    return SQLITE_READONLY;
}

int CipherTruncate(sqlite3_file *, sqlite3_int64)
{
    return SQLITE_READONLY;
}

int CipherSync(sqlite3_file *, int)
{
    return SQLITE_OK;
}

int CipherFileSize(sqlite3_file *file, sqlite3_int64 *size)
{
    sqlite3_file *real = AsCipher(file)->real;
    return real->pMethods->xFileSize(real, size);
}

int CipherLock(sqlite3_file *file, int level)
{
    sqlite3_file *real = AsCipher(file)->real;
    return real->pMethods->xLock(real, level);
}

int CipherUnlock(sqlite3_file *file, int level)
{
    sqlite3_file *real = AsCipher(file)->real;
    return real->pMethods->xUnlock(real, level);
}

int CipherCheckReservedLock(sqlite3_file *file, int *out)
{
    sqlite3_file *real = AsCipher(file)->real;
    return real->pMethods->xCheckReservedLock(real, out);
}

int CipherFileControl(sqlite3_file *file, int op, void *arg)
{
    // Memory mapping would hand ciphertext to SQLite.
    if (op == SQLITE_FCNTL_MMAP_SIZE) {
        if (arg)
            *static_cast<sqlite3_int64 *>(arg) = 0;
        return SQLITE_OK;
    }
    sqlite3_file *real = AsCipher(file)->real;
    return real->pMethods->xFileControl(real, op, arg);
}

int CipherSectorSize(sqlite3_file *file)
{
    sqlite3_file *real = AsCipher(file)->real;
    return real->pMethods->xSectorSize(real);
}

int CipherDeviceCharacteristics(sqlite3_file *file)
{
    sqlite3_file *real = AsCipher(file)->real;
    return real->pMethods->xDeviceCharacteristics(real);
}

const sqlite3_io_methods kCipherIoMethods = {
    1, // version 1: no xFetch (no mmap), no shared memory
    CipherClose,
    CipherRead,
    CipherWrite,
    CipherTruncate,
    CipherSync,
    CipherFileSize,
    CipherLock,
    CipherUnlock,
    CipherCheckReservedLock,
    CipherFileControl,
    CipherSectorSize,
    CipherDeviceCharacteristics,
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};

// ---- opening ----

int Fail(const QString &why, int rc = SQLITE_NOTADB)
{
    t_lastOpenFailure = why;
    return rc;
}

// Checks the plain header and authenticates page 1; fills the file state.
int ValidateMainFile(VfsInstance *instance, CipherFile *cf)
{
    sqlite3_file *real = cf->real;
    sqlite3_int64 size = 0;
    int rc = real->pMethods->xFileSize(real, &size);
    if (rc != SQLITE_OK)
        return Fail(QStringLiteral("cannot read the catalogue file size"), rc);
    if (size < CipherPageCodec::MinPageSize)
        return Fail(QStringLiteral("the file is too small to be a catalogue"));
    uint8_t header[24];
    rc = real->pMethods->xRead(real, header, sizeof header, 0);
    if (rc != SQLITE_OK)
        return Fail(QStringLiteral("cannot read the catalogue header"), rc == SQLITE_IOERR_SHORT_READ ? SQLITE_NOTADB : rc);
    const int pageSize = CipherPageCodec::PageSizeFromHeader(header);
    if (pageSize == 0)
        return Fail(QStringLiteral("the file is not an encrypted catalogue (bad page size)"));
    if (header[20] < CipherPageCodec::ReserveSize)
        return Fail(QStringLiteral("the file is not an encrypted catalogue (no reserved bytes)"));
    if (size % pageSize != 0)
        return Fail(QStringLiteral("the catalogue file is truncated (not whole pages)"));
    if (header[18] != header[19] || (header[18] != 1 && header[18] != 2))
        return Fail(QStringLiteral("the file is not an encrypted catalogue (bad file format)"));

    FileState *state = cf->state;
    state->pageSize = pageSize;
    state->scratch.assign(size_t(pageSize), 0);
    if (!state->codec.IsValid())
        return Fail(QStringLiteral("ChaCha20 or Poly1305 is not available from OpenSSL"), SQLITE_CANTOPEN);
    uint8_t key[CipherPageCodec::KeySize];
    if (!instance->KeyForSalt(header, key))
        return Fail(QStringLiteral("key derivation failed"), SQLITE_CANTOPEN);
    state->codec.SetKey(key);
    OPENSSL_cleanse(key, sizeof key);

    rc = real->pMethods->xRead(real, state->scratch.data(), pageSize, 0);
    if (rc != SQLITE_OK)
        return Fail(QStringLiteral("cannot read the first catalogue page"), rc == SQLITE_IOERR_SHORT_READ ? SQLITE_NOTADB : rc);
    const CipherPageCodec::Result result = state->codec.DecryptPage(state->scratch.data(), pageSize, 1);
    if (result == CipherPageCodec::Result::BadMac)
        return Fail(QStringLiteral("wrong password or not an encrypted catalogue"));
    if (result != CipherPageCodec::Result::Ok)
        return Fail(QStringLiteral("the first catalogue page cannot be decrypted"), SQLITE_CANTOPEN);

    // A published catalogue is complete and never changes: a WAL-mode file reads like a
    // rollback file, and a -wal beside it is a stray (see VfsAccess).
    state->presentAsRollback = header[18] == 2;
    std::fill(state->scratch.begin(), state->scratch.end(), 0);
    return SQLITE_OK;
}

int VfsOpen(sqlite3_vfs *vfs, const char *name, sqlite3_file *file, int flags, int *outFlags)
{
    VfsInstance *instance = Instance(vfs);
    sqlite3_vfs *base = instance->base;
    if (!(flags & SQLITE_OPEN_MAIN_DB)) {
        // Plain helper files: let the default VFS build its own file object in our memory.
        return base->xOpen(base, name, file, flags, outFlags);
    }
    t_lastOpenFailure.clear();
    CipherFile *cf = AsCipher(file);
    cf->base.pMethods = nullptr;
    cf->real = reinterpret_cast<sqlite3_file *>(cf + 1);
    cf->real->pMethods = nullptr;
    cf->state = nullptr;
    if (!name)
        return Fail(QStringLiteral("a catalogue needs a file name"), SQLITE_CANTOPEN);

    const int readFlags = (flags & ~(SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_EXCLUSIVE))
                          | SQLITE_OPEN_READONLY;
    int rc = base->xOpen(base, name, cf->real, readFlags, outFlags);
    if (rc != SQLITE_OK) {
        if (cf->real->pMethods)
            cf->real->pMethods->xClose(cf->real);
        cf->real->pMethods = nullptr;
        return Fail(QStringLiteral("the catalogue file cannot be opened"), rc);
    }
    if (outFlags)
        *outFlags = (*outFlags & ~SQLITE_OPEN_READWRITE) | SQLITE_OPEN_READONLY;
    cf->state = new FileState;
    rc = ValidateMainFile(instance, cf);
    if (rc != SQLITE_OK) {
        cf->real->pMethods->xClose(cf->real);
        cf->real->pMethods = nullptr;
        delete cf->state;
        cf->state = nullptr;
        return rc;
    }
    cf->base.pMethods = &kCipherIoMethods;
    return SQLITE_OK;
}

// ---- everything else goes to the default VFS ----

int VfsDelete(sqlite3_vfs *vfs, const char *name, int syncDir)
{
    sqlite3_vfs *base = Instance(vfs)->base;
    return base->xDelete(base, name, syncDir);
}

// A journal, log or shared-memory file beside a catalogue is never ours: the catalogue is
// read-only and complete, so a stray one must neither be replayed nor stop the open.
bool IsSidecarName(const char *name)
{
    static const QStringList suffixes = CipherVfs::SidecarSuffixes();
    const QString text = QString::fromUtf8(name);
    return std::any_of(suffixes.begin(), suffixes.end(), [&](const QString &suffix) { return text.endsWith(suffix); });
}

int VfsAccess(sqlite3_vfs *vfs, const char *name, int flags, int *out)
{
    if (name && IsSidecarName(name)) {
        *out = 0;
        return SQLITE_OK;
    }
    sqlite3_vfs *base = Instance(vfs)->base;
    return base->xAccess(base, name, flags, out);
}

int VfsFullPathname(sqlite3_vfs *vfs, const char *name, int size, char *out)
{
    sqlite3_vfs *base = Instance(vfs)->base;
    return base->xFullPathname(base, name, size, out);
}

void *VfsDlOpen(sqlite3_vfs *vfs, const char *name)
{
    sqlite3_vfs *base = Instance(vfs)->base;
    return base->xDlOpen(base, name);
}

void VfsDlError(sqlite3_vfs *vfs, int size, char *out)
{
    sqlite3_vfs *base = Instance(vfs)->base;
    base->xDlError(base, size, out);
}

void (*VfsDlSym(sqlite3_vfs *vfs, void *handle, const char *symbol))(void)
{
    sqlite3_vfs *base = Instance(vfs)->base;
    return base->xDlSym(base, handle, symbol);
}

void VfsDlClose(sqlite3_vfs *vfs, void *handle)
{
    sqlite3_vfs *base = Instance(vfs)->base;
    base->xDlClose(base, handle);
}

int VfsRandomness(sqlite3_vfs *vfs, int size, char *out)
{
    sqlite3_vfs *base = Instance(vfs)->base;
    return base->xRandomness(base, size, out);
}

int VfsSleep(sqlite3_vfs *vfs, int micros)
{
    sqlite3_vfs *base = Instance(vfs)->base;
    return base->xSleep(base, micros);
}

int VfsCurrentTime(sqlite3_vfs *vfs, double *out)
{
    sqlite3_vfs *base = Instance(vfs)->base;
    return base->xCurrentTime(base, out);
}

int VfsGetLastError(sqlite3_vfs *vfs, int size, char *out)
{
    sqlite3_vfs *base = Instance(vfs)->base;
    return base->xGetLastError ? base->xGetLastError(base, size, out) : 0;
}

int VfsCurrentTimeInt64(sqlite3_vfs *vfs, sqlite3_int64 *out)
{
    sqlite3_vfs *base = Instance(vfs)->base;
    if (base->iVersion >= 2 && base->xCurrentTimeInt64)
        return base->xCurrentTimeInt64(base, out);
    double now = 0;
    const int rc = base->xCurrentTime(base, &now);
    *out = sqlite3_int64(now * 86400000.0);
    return rc;
}

// Registered instances live for the whole process: SQLite keeps pointers to them.
std::mutex g_registryMutex;
QHash<QByteArray, VfsInstance *> g_instances;
int g_counter = 0;

} // namespace

QByteArray CipherVfs::VfsNameForPassword(const QByteArray &password, QString *error)
{
    auto setError = [error](const QString &text) {
        if (error)
            *error = text;
    };
    const QString problem = CipherPageCodec::PasswordProblem(password);
    if (!problem.isEmpty()) {
        setError(problem);
        return QByteArray();
    }
    std::lock_guard<std::mutex> locker(g_registryMutex);
    const auto it = g_instances.constFind(password);
    if (it != g_instances.constEnd())
        return it.value()->name;

    if (sqlite3_initialize() != SQLITE_OK) {
        setError(QStringLiteral("SQLite cannot be initialised"));
        return QByteArray();
    }
    sqlite3_vfs *base = sqlite3_vfs_find(nullptr);
    if (!base) {
        setError(QStringLiteral("SQLite has no default file system"));
        return QByteArray();
    }
    auto instance = std::make_unique<VfsInstance>();
    instance->base = base;
    instance->password = password;
    instance->name = "tessaly-cipher-" + QByteArray::number(++g_counter);
    sqlite3_vfs &vfs = instance->vfs;
    std::memset(&vfs, 0, sizeof vfs);
    vfs.iVersion = 2;
    vfs.szOsFile = int(sizeof(CipherFile)) + base->szOsFile;
    vfs.mxPathname = base->mxPathname;
    vfs.zName = instance->name.constData();
    vfs.pAppData = instance.get();
    vfs.xOpen = VfsOpen;
    vfs.xDelete = VfsDelete;
    vfs.xAccess = VfsAccess;
    vfs.xFullPathname = VfsFullPathname;
    vfs.xDlOpen = VfsDlOpen;
    vfs.xDlError = VfsDlError;
    vfs.xDlSym = VfsDlSym;
    vfs.xDlClose = VfsDlClose;
    vfs.xRandomness = VfsRandomness;
    vfs.xSleep = VfsSleep;
    vfs.xCurrentTime = VfsCurrentTime;
    vfs.xGetLastError = VfsGetLastError;
    vfs.xCurrentTimeInt64 = VfsCurrentTimeInt64;
    if (sqlite3_vfs_register(&vfs, 0) != SQLITE_OK) {
        setError(QStringLiteral("the catalogue file system cannot be registered"));
        return QByteArray();
    }
    VfsInstance *raw = instance.release();
    g_instances.insert(password, raw);
    return raw->name;
}

QString CipherVfs::LastOpenFailure()
{
    return t_lastOpenFailure;
}

QStringList CipherVfs::SidecarSuffixes()
{
    return {QStringLiteral("-journal"), QStringLiteral("-wal"), QStringLiteral("-shm")};
}
