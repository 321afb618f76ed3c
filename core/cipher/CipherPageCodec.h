#pragma once

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <cstdint>

struct evp_cipher_ctx_st;
struct evp_mac_ctx_st;

// Page codec of the encrypted catalogue: ChaCha20 content encryption with a
// per-page one-time key and a Poly1305 tag over the stored page (encrypt-then-MAC).
// Every page keeps its last 32 bytes for a 16-byte nonce and the 16-byte tag;
// page 1 keeps the salt in bytes 0-15 and bytes 16-23 in plain.
//
// One codec object is used by one thread at a time (it owns OpenSSL contexts).
class CipherPageCodec
{
public:
    static constexpr int SaltSize = 16;
    static constexpr int KeySize = 32;
    static constexpr int NonceSize = 16;
    static constexpr int TagSize = 16;
    static constexpr int ReserveSize = NonceSize + TagSize;
    static constexpr int KdfIterations = 64007;
    static constexpr int MinPageSize = 512;
    static constexpr int MaxPageSize = 65536;

    enum class Result { Ok, BadMac, BadArgument, CryptoFailure };

    CipherPageCodec();
    ~CipherPageCodec();
    CipherPageCodec(const CipherPageCodec &) = delete;
    CipherPageCodec &operator=(const CipherPageCodec &) = delete;

    // False when OpenSSL lacks ChaCha20 or Poly1305 (codec unusable).
    bool IsValid() const;

    void SetKey(const uint8_t key[KeySize]);
    void ClearKey();

    // Decrypts one stored page in place after its tag checked out; on BadMac the
    // page is left untouched (no unauthenticated plaintext is produced).
    Result DecryptPage(uint8_t *page, int pageSize, uint32_t pgno);

    // Encrypts one plain page in place with a fresh random nonce. Page 1 must carry
    // the SQLite magic, which is replaced by the salt.
    Result EncryptPage(uint8_t *page, int pageSize, uint32_t pgno, const uint8_t salt[SaltSize]);
    // As above with a given nonce (known-answer tests).
    Result EncryptPageWithNonce(uint8_t *page, int pageSize, uint32_t pgno,
                                const uint8_t salt[SaltSize], const uint8_t nonce[NonceSize]);

    // PBKDF2-HMAC-SHA256 of the password bytes with the file's salt.
    static bool DeriveKey(const QByteArray &password, const uint8_t salt[SaltSize], uint8_t key[KeySize]);
    // ChaCha20 XOR with a pure 32-bit block counter: after block 0xFFFFFFFF it continues
    // at block 0 with the same nonce (OpenSSL alone would carry into the nonce).
    bool ChaChaXor(const uint8_t key[KeySize], const uint8_t nonce12[12], uint32_t counter,
                   uint8_t *data, size_t length);
    // Page sizes the format allows: powers of two from 512 to 65536.
    static bool IsValidPageSize(int pageSize);
    // Page size from bytes 16-17 of page 1 (1 stands for 65536); 0 when invalid.
    static int PageSizeFromHeader(const uint8_t header[24]);
    // True when the password would be taken as a raw key by other implementations.
    static bool IsRawKeyPassword(const QByteArray &password);
    // Why the password cannot key a catalogue (empty, or a reserved raw-key form); empty when it can.
    static QString PasswordProblem(const QByteArray &password);

    static const uint8_t SqliteMagic[16];

private:
    // The one-time key block of the page; returns the block counter it was made with.
    uint32_t MakeOneTimeKey(uint32_t pgno, const uint8_t *nonce, uint8_t otk[64]) const;
    bool ComputeTag(const uint8_t otk[32], const uint8_t *data, size_t length, uint8_t tag[TagSize]);

    evp_cipher_ctx_st *cipherCtx = nullptr;
    evp_mac_ctx_st *macCtx = nullptr;
    uint8_t masterKey[KeySize];
    bool hasKey = false;
};
