#include "cipher/CipherPageCodec.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <cstring>

const uint8_t CipherPageCodec::SqliteMagic[16] = {'S', 'Q', 'L', 'i', 't', 'e', ' ', 'f',
                                                  'o', 'r', 'm', 'a', 't', ' ', '3', 0};

namespace {

// Fetched once per process; the algorithm objects are immutable and shared by every codec.
struct CipherAlgorithms
{
    EVP_CIPHER *chacha = nullptr;
    EVP_MAC *poly = nullptr;
    CipherAlgorithms()
    {
        chacha = EVP_CIPHER_fetch(nullptr, "ChaCha20", nullptr);
        poly = EVP_MAC_fetch(nullptr, "POLY1305", nullptr);
    }
    ~CipherAlgorithms()
    {
        EVP_CIPHER_free(chacha);
        EVP_MAC_free(poly);
    }
};

const CipherAlgorithms &Algorithms()
{
    static const CipherAlgorithms algorithms;
    return algorithms;
}

inline uint32_t ReadLe32(const uint8_t *p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

inline void WriteLe32(uint8_t *p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

inline uint32_t Rotl(uint32_t x, int r)
{
    return (x << r) | (x >> (32 - r));
}

inline void QuarterRound(uint32_t &a, uint32_t &b, uint32_t &c, uint32_t &d)
{
    a += b;
    d = Rotl(d ^ a, 16);
    c += d;
    b = Rotl(b ^ c, 12);
    a += b;
    d = Rotl(d ^ a, 8);
    c += d;
    b = Rotl(b ^ c, 7);
}

// One ChaCha20 block (RFC 8439): the 64-byte keystream for one counter value. Used for the
// per-page one-time key, where setting up an OpenSSL cipher costs more than the block.
void ChaChaBlock(const uint8_t key[32], const uint8_t nonce[12], uint32_t counter, uint8_t out[64])
{
    uint32_t state[16] = {0x61707865, 0x3320646e, 0x79622d32, 0x6b206574};
    for (int i = 0; i < 8; ++i)
        state[4 + i] = ReadLe32(key + 4 * i);
    state[12] = counter;
    for (int i = 0; i < 3; ++i)
        state[13 + i] = ReadLe32(nonce + 4 * i);
    uint32_t x[16];
    std::memcpy(x, state, sizeof x);
    for (int round = 0; round < 10; ++round) {
        QuarterRound(x[0], x[4], x[8], x[12]);
        QuarterRound(x[1], x[5], x[9], x[13]);
        QuarterRound(x[2], x[6], x[10], x[14]);
        QuarterRound(x[3], x[7], x[11], x[15]);
        QuarterRound(x[0], x[5], x[10], x[15]);
        QuarterRound(x[1], x[6], x[11], x[12]);
        QuarterRound(x[2], x[7], x[8], x[13]);
        QuarterRound(x[3], x[4], x[9], x[14]);
    }
    for (int i = 0; i < 16; ++i)
        WriteLe32(out + 4 * i, x[i] + state[i]);
    OPENSSL_cleanse(x, sizeof x);
    OPENSSL_cleanse(state, sizeof state);
}

} // namespace

CipherPageCodec::CipherPageCodec()
{
    std::memset(masterKey, 0, sizeof masterKey);
    if (Algorithms().chacha && Algorithms().poly) {
        cipherCtx = EVP_CIPHER_CTX_new();
        macCtx = EVP_MAC_CTX_new(Algorithms().poly);
    }
}

CipherPageCodec::~CipherPageCodec()
{
    ClearKey();
    EVP_CIPHER_CTX_free(cipherCtx);
    EVP_MAC_CTX_free(macCtx);
}

bool CipherPageCodec::IsValid() const
{
    return cipherCtx && macCtx;
}

void CipherPageCodec::SetKey(const uint8_t key[KeySize])
{
    std::memcpy(masterKey, key, KeySize);
    hasKey = true;
}

void CipherPageCodec::ClearKey()
{
    OPENSSL_cleanse(masterKey, sizeof masterKey);
    hasKey = false;
}

bool CipherPageCodec::IsValidPageSize(int pageSize)
{
    return pageSize >= MinPageSize && pageSize <= MaxPageSize && (pageSize & (pageSize - 1)) == 0;
}

int CipherPageCodec::PageSizeFromHeader(const uint8_t header[24])
{
    int size = (int(header[16]) << 8) | int(header[17]);
    if (size == 1)
        size = 65536;
    return IsValidPageSize(size) ? size : 0;
}

bool CipherPageCodec::IsRawKeyPassword(const QByteArray &password)
{
    if (password.startsWith("raw:")) {
        const int rest = password.size() - 4;
        return rest == 32 || rest == 48 || rest == 64 || rest == 96;
    }
    if (password.startsWith("x'") && password.endsWith('\'')) {
        const int digits = password.size() - 3;
        return digits == 64 || digits == 96;
    }
    return false;
}

QString CipherPageCodec::PasswordProblem(const QByteArray &password)
{
    if (password.isEmpty())
        return QStringLiteral("an empty catalogue password is not allowed");
    if (IsRawKeyPassword(password))
        return QStringLiteral("the catalogue password has a reserved raw-key form");
    return QString();
}

bool CipherPageCodec::DeriveKey(const QByteArray &password, const uint8_t salt[SaltSize], uint8_t key[KeySize])
{
    if (password.isEmpty())
        return false;
    return PKCS5_PBKDF2_HMAC(password.constData(), password.size(), salt, SaltSize, KdfIterations,
                             EVP_sha256(), KeySize, key) == 1;
}

bool CipherPageCodec::ChaChaXor(const uint8_t key[KeySize], const uint8_t nonce12[12], uint32_t counter,
                                uint8_t *data, size_t length)
{
    if (!IsValid())
        return false;
    while (length > 0) {
        // Blocks left before the 32-bit counter wraps; process at most that many per call.
        const uint64_t blocksToWrap = (uint64_t(1) << 32) - counter;
        const uint64_t bytesToWrap = blocksToWrap * 64;
        const size_t chunk = bytesToWrap < length ? size_t(bytesToWrap) : length;
        uint8_t iv[16];
        WriteLe32(iv, counter);
        std::memcpy(iv + 4, nonce12, 12);
        int outLength = 0;
        if (EVP_EncryptInit_ex2(cipherCtx, Algorithms().chacha, key, iv, nullptr) != 1
            || EVP_EncryptUpdate(cipherCtx, data, &outLength, data, int(chunk)) != 1
            || outLength != int(chunk)) {
            return false;
        }
        data += chunk;
        length -= chunk;
        counter = 0;
    }
    return true;
}

uint32_t CipherPageCodec::MakeOneTimeKey(uint32_t pgno, const uint8_t *nonce, uint8_t otk[64]) const
{
    const uint32_t counter = ReadLe32(nonce + 12) ^ pgno;
    ChaChaBlock(masterKey, nonce, counter, otk); // the keystream XOR 64 zero bytes
    return counter;
}

bool CipherPageCodec::ComputeTag(const uint8_t otk[32], const uint8_t *data, size_t length, uint8_t tag[TagSize])
{
    size_t tagLength = 0;
    return EVP_MAC_init(macCtx, otk, 32, nullptr) == 1 && EVP_MAC_update(macCtx, data, length) == 1
        && EVP_MAC_final(macCtx, tag, &tagLength, TagSize) == 1 && tagLength == TagSize;
}

CipherPageCodec::Result CipherPageCodec::DecryptPage(uint8_t *page, int pageSize, uint32_t pgno)
{
    if (!hasKey || !IsValid() || !IsValidPageSize(pageSize) || pgno == 0)
        return Result::BadArgument;
    const int n = pageSize - ReserveSize;
    const uint8_t *nonce = page + n;
    const uint8_t *storedTag = page + n + NonceSize;
    uint8_t otk[64];
    const uint32_t counter = MakeOneTimeKey(pgno, nonce, otk);
    uint8_t tag[TagSize];
    if (!ComputeTag(otk, page, size_t(n) + NonceSize, tag)) {
        OPENSSL_cleanse(otk, sizeof otk);
        return Result::CryptoFailure;
    }
    if (CRYPTO_memcmp(tag, storedTag, TagSize) != 0) {
        OPENSSL_cleanse(otk, sizeof otk);
        return Result::BadMac;
    }
    const int start = pgno == 1 ? 24 : 0;
    const bool ok = ChaChaXor(otk + 32, nonce, counter + 1, page + start, size_t(n - start));
    OPENSSL_cleanse(otk, sizeof otk);
    if (!ok)
        return Result::CryptoFailure;
    if (pgno == 1)
        std::memcpy(page, SqliteMagic, sizeof SqliteMagic);
    return Result::Ok;
}

CipherPageCodec::Result CipherPageCodec::EncryptPage(uint8_t *page, int pageSize, uint32_t pgno,
                                                     const uint8_t salt[SaltSize])
{
    uint8_t nonce[NonceSize];
    if (RAND_bytes(nonce, NonceSize) != 1)
        return Result::CryptoFailure;
    return EncryptPageWithNonce(page, pageSize, pgno, salt, nonce);
}

CipherPageCodec::Result CipherPageCodec::EncryptPageWithNonce(uint8_t *page, int pageSize, uint32_t pgno,
                                                              const uint8_t salt[SaltSize],
                                                              const uint8_t nonce[NonceSize])
{
    if (!hasKey || !IsValid() || !IsValidPageSize(pageSize) || pgno == 0)
        return Result::BadArgument;
    const int n = pageSize - ReserveSize;
    std::memcpy(page + n, nonce, NonceSize);
    uint8_t otk[64];
    const uint32_t counter = MakeOneTimeKey(pgno, nonce, otk);
    const int start = pgno == 1 ? 24 : 0;
    bool ok = ChaChaXor(otk + 32, nonce, counter + 1, page + start, size_t(n - start));
    if (ok && pgno == 1)
        std::memcpy(page, salt, SaltSize);
    ok = ok && ComputeTag(otk, page, size_t(n) + NonceSize, page + n + NonceSize);
    OPENSSL_cleanse(otk, sizeof otk);
    return ok ? Result::Ok : Result::CryptoFailure;
}
