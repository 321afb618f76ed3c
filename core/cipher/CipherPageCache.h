#pragma once

#include <QByteArray>
#include <QHash>
#include <mutex>

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

// Process-wide cache of authenticated, decrypted catalogue pages, shared by every
// connection that opens the same file with the same password. A fresh connection (or one
// in another thread) then reads pages without decrypting them again.
//
// Each cached page keeps a digest of the stored (encrypted) page it came from, and is used
// only while the page on disk still has that digest: every read still reads the file, so a
// changed or damaged page is decrypted and checked afresh, never answered from the cache.
// A file entry is keyed by password (the VFS), path, salt, page size and file size. Only
// pages whose tag checked out are stored. A file's pages are kept while it is open and, once
// closed, only while no other file has been opened since (so a replaced catalogue frees its
// pages, while reopening the same file finds them). Memory is also bounded by a byte
// budget; when it is reached, whole files are dropped, least recently opened first.
//
// Lock order: the cache's mutex before a file entry's mutex.
class CipherPageCache
{
public:
    struct FileIdentity
    {
        const void *owner = nullptr; // the VFS (one per password)
        QByteArray path;
        QByteArray salt;
        int pageSize = 0;
        qint64 size = 0;

        bool operator==(const FileIdentity &other) const;
    };

    class CachedFile
    {
    public:
        CachedFile(const FileIdentity &identity, quint32 pageCount);
        ~CachedFile();
        CachedFile(const CachedFile &) = delete;
        CachedFile &operator=(const CachedFile &) = delete;

        const FileIdentity identity;
        // Copies the plain page pgno into out when it is cached for a stored page with this
        // digest; false otherwise (out untouched).
        bool Read(quint32 pgno, quint64 storedDigest, uint8_t *out);

    private:
        friend class CipherPageCache;
        void ReleaseLocked();

        std::mutex mutex;
        // One anonymous mapping per file, filled page by page: memory is committed only for
        // stored pages, and the cache never interleaves with SQLite's own page buffers on
        // the heap (which would slow its scans).
        uint8_t *arena = nullptr;
        size_t arenaSize = 0;
        std::vector<quint64> storedDigests; // index pgno - 1
        std::vector<bool> present;
        qint64 bytes = 0;
        quint64 lastUse = 0;
        int openCount = 0; // under the cache's mutex
    };

    // Fast non-cryptographic digest of a stored page, to notice a changed page. A forged
    // collision could at worst bring back the page's earlier authenticated content.
    static quint64 Digest(const uint8_t *data, size_t length);

    static CipherPageCache &Instance();

    // The entry for an opened file, new when the file is not cached or has changed since.
    // Each Attach is paired with one Detach when the file is closed.
    std::shared_ptr<CachedFile> Attach(const FileIdentity &identity);
    void Detach(const std::shared_ptr<CachedFile> &file);
    // Stores a decrypted page, if the budget allows (dropping other files if needed).
    void Store(const std::shared_ptr<CachedFile> &file, quint32 pgno, quint64 storedDigest, const uint8_t *page);

    void SetBudgetBytes(qint64 bytes);
    qint64 BudgetBytes() const;
    qint64 UsedBytes() const;
    void Clear();

    static constexpr qint64 DefaultBudgetBytes = 160LL * 1024 * 1024;

private:
    CipherPageCache() = default;
    void DropLocked(const std::shared_ptr<CachedFile> &file);
    bool MakeRoomLocked(qint64 needed, const CachedFile *keep);

    mutable std::mutex mutex;
    QHash<QByteArray, std::shared_ptr<CachedFile>> files; // by owner and path
    std::atomic<qint64> budget{DefaultBudgetBytes};
    std::atomic<qint64> used{0};
    quint64 useCounter = 0;
};
