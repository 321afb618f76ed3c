// Known-answer and failure tests of the catalogue page codec.
#include "cipher/CipherPageCodec.h"

#include <QCryptographicHash>
#include <QtTest>

#include <cstring>
#include <vector>

namespace {

QByteArray Hex(const uint8_t *data, int size)
{
    return QByteArray(reinterpret_cast<const char *>(data), size).toHex();
}

} // namespace

class TestCipherCodec : public QObject
{
    Q_OBJECT
    // The key of the known-answer vectors: "secret" with the salt 00 01 .. 0f.
    uint8_t key[32] = {};
    CipherPageCodec codec;

private slots:
    void initTestCase()
    {
        uint8_t salt[16];
        for (int i = 0; i < 16; ++i)
            salt[i] = uint8_t(i);
        QVERIFY(CipherPageCodec::DeriveKey("secret", salt, key));
        QCOMPARE(Hex(key, 32), QByteArray("ceeb8796c916c49d37d238240ef32e16694669bb591202273b94ba4bee58b054"));
        QVERIFY(!CipherPageCodec::DeriveKey(QByteArray(), salt, key));
        codec.SetKey(key);
    }

    // The content counter starts at 0xFFFFFFFF and must wrap to block 0 with the same nonce.
    void counterWrapVector()
    {
        std::vector<uint8_t> page(512, 0);
        const uint8_t nonce[16] = {0xa0, 0xa1, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7,
                                   0xa8, 0xa9, 0xaa, 0xab, 0xfd, 0xff, 0xff, 0xff};
        const uint8_t salt[16] = {};
        QVERIFY(codec.EncryptPageWithNonce(page.data(), 512, 3, salt, nonce) == CipherPageCodec::Result::Ok);
        QCOMPARE(Hex(page.data() + 496, 16), QByteArray("1bc4310bf7df8533fd26e00c4add4ba7"));
        QCOMPARE(QCryptographicHash::hash(QByteArray(reinterpret_cast<const char *>(page.data()), 512),
                                          QCryptographicHash::Sha256).toHex(),
                 QByteArray("5cab5de480d54c8e44099081d801b307e6dec58ab8e116d3373c0f2b6e894dab"));
        QVERIFY(codec.DecryptPage(page.data(), 512, 3) == CipherPageCodec::Result::Ok);
        QVERIFY(std::all_of(page.begin(), page.begin() + 480, [](uint8_t b) { return b == 0; }));
    }

    void tamperingAndWrongKeyAreRejected()
    {
        const uint8_t salt[16] = {9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 1, 2, 3, 4, 5, 6};
        std::vector<uint8_t> plain(1024, 0x5a);
        std::memcpy(plain.data(), CipherPageCodec::SqliteMagic, 16);
        plain[16] = 0x04; // page size 1024
        plain[17] = 0x00;
        plain[20] = 32;
        std::vector<uint8_t> page = plain;
        QVERIFY(codec.EncryptPage(page.data(), 1024, 1, salt) == CipherPageCodec::Result::Ok);
        QVERIFY(std::equal(salt, salt + 16, page.begin())); // salt replaces the magic
        QCOMPARE(page[16], uint8_t(0x04));                  // header bytes stay readable

        // Every covered region: content, plain header byte, salt, nonce, tag.
        for (size_t offset : {size_t(0), size_t(17), size_t(100), size_t(991), size_t(1000), size_t(1023)}) {
            std::vector<uint8_t> bad = page;
            bad[offset] ^= 0x01;
            const std::vector<uint8_t> before = bad;
            QVERIFY(codec.DecryptPage(bad.data(), 1024, 1) == CipherPageCodec::Result::BadMac);
            QVERIFY(bad == before); // nothing decrypted
        }
        // The page number is bound in: the same page at another position fails.
        std::vector<uint8_t> moved = page;
        QVERIFY(codec.DecryptPage(moved.data(), 1024, 2) == CipherPageCodec::Result::BadMac);

        CipherPageCodec other;
        uint8_t otherKey[32];
        QVERIFY(CipherPageCodec::DeriveKey("Secret", salt, otherKey));
        other.SetKey(otherKey);
        std::vector<uint8_t> wrong = page;
        QVERIFY(other.DecryptPage(wrong.data(), 1024, 1) == CipherPageCodec::Result::BadMac);

        QVERIFY(codec.DecryptPage(page.data(), 1024, 1) == CipherPageCodec::Result::Ok);
        QVERIFY(std::equal(plain.begin(), plain.begin() + 992, page.begin()));
    }

    void headerChecks()
    {
        // Big-endian bytes 16-17; 1 stands for 65536; 0 and 768 are no page sizes.
        for (const auto &size : {qMakePair(0x1000, 4096), qMakePair(0x0001, 65536), qMakePair(0, 0), qMakePair(0x0300, 0)}) {
            uint8_t header[24] = {};
            header[16] = uint8_t(size.first >> 8);
            header[17] = uint8_t(size.first);
            QCOMPARE(CipherPageCodec::PageSizeFromHeader(header), size.second);
        }
        QVERIFY(CipherPageCodec::IsRawKeyPassword("raw:" + QByteArray(32, 'a')));
        QVERIFY(CipherPageCodec::IsRawKeyPassword("x'" + QByteArray(64, '0') + "'"));
        QVERIFY(!CipherPageCodec::IsRawKeyPassword("raw:short"));
    }
};

QTEST_GUILESS_MAIN(TestCipherCodec)
#include "test_cipher_codec.moc"
