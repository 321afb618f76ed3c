#include "cipher/CipherPageCache.h"

#include <sys/mman.h>

#include <cstring>

namespace {

QByteArray KeyOf(const CipherPageCache::FileIdentity &identity)
{
    return QByteArray(reinterpret_cast<const char *>(&identity.owner), int(sizeof identity.owner)) + identity.path;
}

} // namespace

bool CipherPageCache::FileIdentity::operator==(const FileIdentity &other) const
{
    return owner == other.owner && path == other.path && salt == other.salt && pageSize == other.pageSize
           && size == other.size;
}

CipherPageCache::CachedFile::CachedFile(const FileIdentity &identityIn, quint32 pageCount)
    : identity(identityIn)
    , storedDigests(pageCount, 0)
    , present(pageCount, false)
{
    arenaSize = size_t(pageCount) * size_t(identity.pageSize);
    if (arenaSize > 0) {
        void *memory = mmap(nullptr, arenaSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        arena = memory == MAP_FAILED ? nullptr : static_cast<uint8_t *>(memory);
    }
}

CipherPageCache::CachedFile::~CachedFile()
{
    ReleaseLocked();
}

void CipherPageCache::CachedFile::ReleaseLocked()
{
    if (arena)
        munmap(arena, arenaSize);
    arena = nullptr;
    std::fill(present.begin(), present.end(), false);
}

bool CipherPageCache::CachedFile::Read(quint32 pgno, quint64 storedDigest, uint8_t *out)
{
    std::lock_guard<std::mutex> locker(mutex);
    if (!arena || pgno == 0 || pgno > present.size())
        return false;
    if (!present[pgno - 1] || storedDigests[pgno - 1] != storedDigest)
        return false;
    std::memcpy(out, arena + size_t(pgno - 1) * size_t(identity.pageSize), size_t(identity.pageSize));
    return true;
}

quint64 CipherPageCache::Digest(const uint8_t *data, size_t length)
{
    // Fletcher-style sums in four independent lanes, kept in registers: any changed word
    // changes the sums, and the running second sums weight words by their position.
    auto load = [data](size_t offset) {
        quint64 word;
        std::memcpy(&word, data + offset, sizeof word);
        return word;
    };
    quint64 s0 = 0, s1 = 0, s2 = 0, s3 = 0, w0 = 0, w1 = 0, w2 = 0, w3 = 0;
    size_t i = 0;
    for (; i + 32 <= length; i += 32) {
        s0 += load(i);
        s1 += load(i + 8);
        s2 += load(i + 16);
        s3 += load(i + 24);
        w0 += s0;
        w1 += s1;
        w2 += s2;
        w3 += s3;
    }
    quint64 h = quint64(length) * 0x9E3779B185EBCA87ull;
    for (; i < length; ++i)
        h = (h ^ data[i]) * 0x100000001B3ull;
    for (const quint64 value : {s0, w0, s1, w1, s2, w2, s3, w3}) {
        h = (h ^ value) * 0xC2B2AE3D27D4EB4Full;
        h ^= h >> 29;
    }
    return h;
}

CipherPageCache &CipherPageCache::Instance()
{
    static CipherPageCache cache;
    return cache;
}

std::shared_ptr<CipherPageCache::CachedFile> CipherPageCache::Attach(const FileIdentity &identity)
{
    std::lock_guard<std::mutex> locker(mutex);
    const QByteArray key = KeyOf(identity);
    std::shared_ptr<CachedFile> file = files.value(key);
    if (file && !(file->identity == identity)) {
        DropLocked(file); // the file changed: its pages are stale
        file.reset();
    }
    if (!file) {
        // Closed files are kept only until another file is opened.
        const auto all = files.values();
        for (const std::shared_ptr<CachedFile> &other : all) {
            if (other->openCount == 0)
                DropLocked(other);
        }
        const quint32 pageCount = identity.pageSize > 0 ? quint32(identity.size / identity.pageSize) : 0;
        file = std::make_shared<CachedFile>(identity, pageCount);
        files.insert(key, file);
    }
    ++file->openCount;
    file->lastUse = ++useCounter;
    return file;
}

void CipherPageCache::Detach(const std::shared_ptr<CachedFile> &file)
{
    std::lock_guard<std::mutex> locker(mutex);
    if (file->openCount > 0)
        --file->openCount;
    if (file->openCount == 0 && file->lastUse != useCounter)
        DropLocked(file); // another file was opened since
}

void CipherPageCache::Store(const std::shared_ptr<CachedFile> &file, quint32 pgno, quint64 storedDigest,
                            const uint8_t *page)
{
    const qint64 size = file->identity.pageSize;
    std::lock_guard<std::mutex> locker(mutex);
    // A dropped or replaced entry keeps serving its open connections but stores nothing more.
    if (files.value(KeyOf(file->identity)) != file)
        return;
    if (used.load() + size > budget.load() && !MakeRoomLocked(size, file.get()))
        return;
    std::lock_guard<std::mutex> fileLocker(file->mutex);
    if (!file->arena || pgno == 0 || pgno > file->present.size())
        return;
    if (!file->present[pgno - 1]) {
        file->present[pgno - 1] = true;
        file->bytes += size;
        used += size;
    }
    std::memcpy(file->arena + size_t(pgno - 1) * size_t(size), page, size_t(size));
    file->storedDigests[pgno - 1] = storedDigest;
}

void CipherPageCache::DropLocked(const std::shared_ptr<CachedFile> &file)
{
    {
        std::lock_guard<std::mutex> fileLocker(file->mutex);
        file->ReleaseLocked();
        used -= file->bytes;
        file->bytes = 0;
    }
    const QByteArray key = KeyOf(file->identity);
    if (files.value(key) == file)
        files.remove(key);
}

bool CipherPageCache::MakeRoomLocked(qint64 needed, const CachedFile *keep)
{
    while (used.load() + needed > budget.load()) {
        std::shared_ptr<CachedFile> oldest;
        for (auto it = files.cbegin(); it != files.cend(); ++it) {
            const std::shared_ptr<CachedFile> &candidate = it.value();
            if (candidate.get() == keep || candidate->bytes == 0)
                continue;
            if (!oldest || candidate->lastUse < oldest->lastUse)
                oldest = candidate;
        }
        if (!oldest)
            return false;
        DropLocked(oldest);
    }
    return true;
}

void CipherPageCache::SetBudgetBytes(qint64 bytes)
{
    std::lock_guard<std::mutex> locker(mutex);
    budget = bytes < 0 ? 0 : bytes;
    MakeRoomLocked(0, nullptr);
}

qint64 CipherPageCache::BudgetBytes() const
{
    return budget.load();
}

qint64 CipherPageCache::UsedBytes() const
{
    return used.load();
}

void CipherPageCache::Clear()
{
    std::lock_guard<std::mutex> locker(mutex);
    const auto all = files.values();
    for (const std::shared_ptr<CachedFile> &file : all)
        DropLocked(file);
}
