#include "Const.h"
#include "envelope/DisplayFolderEncrypterClass.h"
#include "Helper.h"
#include "envelope/SimpleCrypt.h"

#include <QRandomGenerator>
#include <QtTest>

#include <atomic>
#include <thread>
#include <vector>

Q_DECLARE_METATYPE(SimpleCryptCompression)
Q_DECLARE_METATYPE(SimpleCryptProtection)

namespace {

const quint64 TestKey = Q_UINT64_C(0x0123456789ABCDEF);

QByteArray randomBytes(int size, quint32 seed)
{
    QRandomGenerator gen(seed);
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = char(gen.generate() & 0xff);
    return bytes;
}

QByteArray textBytes(int size)
{
    QByteArray bytes;
    while (bytes.size() < size)
        bytes += "Science (12 Books)|Fiction@fix;|";
    bytes.truncate(size);
    return bytes;
}

SimpleCrypt makeCrypt(SimpleCryptCompression compression, SimpleCryptProtection protection,
                      quint64 key = TestKey)
{
    SimpleCrypt crypt(key);
    crypt.setCompressionMode(compression);
    crypt.setProtectionMode(protection);
    return crypt;
}

} // namespace

class TestSimpleCrypt : public QObject
{
    Q_OBJECT

private slots:
    void roundTripEveryModePair_data()
    {
        QTest::addColumn<SimpleCryptCompression>("compression");
        QTest::addColumn<SimpleCryptProtection>("protection");
        const QList<QPair<const char *, SimpleCryptCompression>> compressions = {
            {"auto", SimpleCryptCompression::Auto},
            {"always", SimpleCryptCompression::Always},
            {"never", SimpleCryptCompression::Never}};
        const QList<QPair<const char *, SimpleCryptProtection>> protections = {
            {"none", SimpleCryptProtection::None},
            {"checksum", SimpleCryptProtection::Checksum},
            {"hash", SimpleCryptProtection::Hash}};
        for (const auto &c : compressions)
            for (const auto &p : protections)
                QTest::addRow("%s/%s", c.first, p.first) << c.second << p.second;
    }

    void roundTripEveryModePair()
    {
        QFETCH(SimpleCryptCompression, compression);
        QFETCH(SimpleCryptProtection, protection);
        for (int size : {0, 1, 2, 3, 20, 21, 100, 4096, 1 << 20}) {
            for (const QByteArray &plain : {randomBytes(size, quint32(size)), textBytes(size)}) {
                SimpleCrypt crypt = makeCrypt(compression, protection);
                const QByteArray envelope = crypt.encryptToByteArray(plain);
                QCOMPARE(crypt.getLastError(), SimpleCryptError::NoError);
                QCOMPARE(envelope.at(0), char(0x03));
                const quint8 flags = quint8(envelope.at(1));
                QCOMPARE(bool(flags & CryptFlagChecksum), protection == SimpleCryptProtection::Checksum);
                QCOMPARE(bool(flags & CryptFlagHash), protection == SimpleCryptProtection::Hash);
                if (compression != SimpleCryptCompression::Auto)
                    QCOMPARE(bool(flags & CryptFlagCompression), compression == SimpleCryptCompression::Always);

                SimpleCrypt reader(TestKey); // default modes: the envelope's flags decide
                QCOMPARE(reader.decryptToByteArray(envelope), plain);
                QCOMPARE(reader.getLastError(), SimpleCryptError::NoError);
            }
        }
    }

    void autoCompressesOnlyWhenShorter()
    {
        SimpleCrypt crypt = makeCrypt(SimpleCryptCompression::Auto, SimpleCryptProtection::None);
        QCOMPARE(quint8(crypt.encryptToByteArray(QByteArray("abc")).at(1)), quint8(0));
        QCOMPARE(quint8(crypt.encryptToByteArray(randomBytes(5000, 7)).at(1)), quint8(0));
        QCOMPARE(quint8(crypt.encryptToByteArray(textBytes(5000)).at(1)), quint8(CryptFlagCompression));
    }

    void storedLayoutIsPinned()
    {
        // Envelopes made by an independent implementation with the program's key.
        const DisplayFolderEncrypterClass encrypter;
        QCOMPARE(encrypter.GetKey(), Q_UINT64_C(0x7C3A91E5D2486BF1) - 4);
        SimpleCrypt crypt(encrypter.GetKey());
        QCOMPARE(crypt.decryptToByteArray(QByteArray::fromHex("0300edc7cd")), QByteArray("AB"));
        QCOMPARE(crypt.decryptToByteArray(QByteArray::fromHex("03022e71843ebe431506")), QByteArray("hello"));
        const QByteArray kat05 = QByteArray::fromHex(
            "0305b78922a928f8e23a5ca067178d63036c0bc1191566f7cdb1495ac811bd01152706c4d8426c324174b4"
            "f5eb59ec35c2f519726cdd3fc2");
        QCOMPARE(crypt.decryptToByteArray(kat05), QByteArray("Tessaly folders \0 end", 21));
        QCOMPARE(crypt.getLastError(), SimpleCryptError::NoError);
        QCOMPARE(crypt.decryptToString(kat05), QString("Tessaly folders "));
        // The Base64 forms.
        QCOMPARE(crypt.decryptToString(Const::CatalogPasswordEnvelope), Helper::GetCatalogPassword());
        const QString text = QString::fromUtf8("B\xc3\xbc" "cher");
        QCOMPARE(crypt.decryptToString(crypt.encryptToString(text)), text);
    }

    void damagedEnvelopesFail()
    {
        for (SimpleCryptProtection protection : {SimpleCryptProtection::Checksum, SimpleCryptProtection::Hash}) {
            SimpleCrypt crypt = makeCrypt(SimpleCryptCompression::Auto, protection);
            const QByteArray envelope = crypt.encryptToByteArray(textBytes(300));
            for (int pos = 2; pos < envelope.size(); ++pos) {
                for (char mask : {char(0x01), char(0x80), char(0xff)}) {
                    QByteArray damaged = envelope;
                    damaged[pos] = char(damaged.at(pos) ^ mask);
                    QVERIFY(crypt.decryptToByteArray(damaged).isEmpty());
                    QCOMPARE(crypt.getLastError(), SimpleCryptError::IntegrityFailed);
                }
            }
        }

        // Without protection a damaged byte goes unnoticed.
        SimpleCrypt open = makeCrypt(SimpleCryptCompression::Never, SimpleCryptProtection::None);
        QByteArray envelope = open.encryptToByteArray(QByteArray("plain text"));
        envelope[6] = char(envelope.at(6) ^ 0x10);
        const QByteArray changed = open.decryptToByteArray(envelope);
        QCOMPARE(open.getLastError(), SimpleCryptError::NoError);
        QCOMPARE(changed.size(), 10);
        QVERIFY(changed != "plain text");
    }

    void malformedEnvelopes()
    {
        SimpleCrypt crypt(TestKey);
        QTest::ignoreMessage(QtWarningMsg, "Invalid version or not a cyphertext.");
        QVERIFY(crypt.decryptToByteArray(QByteArray::fromHex("0200aabbcc")).isEmpty());
        QCOMPARE(crypt.getLastError(), SimpleCryptError::UnknownVersion);

        // Too short to be an envelope: a failure, not an empty success.
        for (const QByteArray &shortInput : {QByteArray(), QByteArray("\x03"), QByteArray("\x03\x00", 2)}) {
            crypt.encryptToByteArray(QByteArray("x"));
            QCOMPARE(crypt.getLastError(), SimpleCryptError::NoError);
            QVERIFY(crypt.decryptToByteArray(shortInput).isEmpty());
            QCOMPARE(crypt.getLastError(), SimpleCryptError::IntegrityFailed);
        }

        SimpleCrypt noKey;
        QTest::ignoreMessage(QtWarningMsg, "No key set.");
        QVERIFY(noKey.encryptToByteArray(QByteArray("x")).isEmpty());
        QCOMPARE(noKey.getLastError(), SimpleCryptError::NoKeySet);
        QTest::ignoreMessage(QtWarningMsg, "No key set.");
        QVERIFY(noKey.decryptToByteArray(QByteArray::fromHex("0300edc7cd")).isEmpty());
        QCOMPARE(noKey.getLastError(), SimpleCryptError::NoKeySet);
    }

    void badCompressedPayloadFails()
    {
        // The flags byte is not chained: mark an uncompressed envelope as compressed.
        SimpleCrypt crypt = makeCrypt(SimpleCryptCompression::Never, SimpleCryptProtection::None);
        const auto asCompressed = [&crypt](const QByteArray &payload) {
            QByteArray envelope = crypt.encryptToByteArray(payload);
            envelope[1] = char(CryptFlagCompression);
            return envelope;
        };
        // A stated length of 2 GB must neither allocate it nor pass.
        QVERIFY(crypt.decryptToByteArray(asCompressed(QByteArray::fromHex("7fffffff789c0300"))).isEmpty());
        QCOMPARE(crypt.getLastError(), SimpleCryptError::DecompressionFailed);
        QVERIFY(crypt.decryptToByteArray(asCompressed(QByteArray::fromHex("00000010deadbeefdeadbeef"))).isEmpty());
        QCOMPARE(crypt.getLastError(), SimpleCryptError::DecompressionFailed);
        QVERIFY(crypt.decryptToByteArray(asCompressed(QByteArray::fromHex("0000"))).isEmpty());
        QCOMPARE(crypt.getLastError(), SimpleCryptError::DecompressionFailed);
        // A stated length that disagrees with the stream.
        QByteArray lying = qCompress(QByteArray("twelve bytes"), 9);
        lying[3] = char(20);
        QVERIFY(crypt.decryptToByteArray(asCompressed(lying)).isEmpty());
        QCOMPARE(crypt.getLastError(), SimpleCryptError::DecompressionFailed);
        // The compressed form of nothing is a valid empty payload.
        QVERIFY(crypt.decryptToByteArray(asCompressed(QByteArray(4, '\0'))).isEmpty());
        QCOMPARE(crypt.getLastError(), SimpleCryptError::NoError);

        const DisplayFolderEncrypterClass encrypter;
        SimpleCrypt keyed(encrypter.GetKey());
        keyed.setCompressionMode(SimpleCryptCompression::Never);
        keyed.setProtectionMode(SimpleCryptProtection::Hash);
        QByteArray envelope = keyed.encryptToByteArray(QByteArray::fromHex("00000010deadbeef"));
        envelope[1] = char(CryptFlagCompression | CryptFlagHash);
        QByteArray out("stale");
        QVERIFY(!encrypter.DecryptBytes(envelope, out));
        QVERIFY(out.isEmpty());
    }

    void wrongKeyFails()
    {
        for (SimpleCryptProtection protection : {SimpleCryptProtection::Checksum, SimpleCryptProtection::Hash}) {
            SimpleCrypt writer = makeCrypt(SimpleCryptCompression::Auto, protection);
            const QByteArray envelope = writer.encryptToByteArray(textBytes(200));
            for (quint64 otherKey : {TestKey + 1, TestKey ^ (Q_UINT64_C(1) << 63), Q_UINT64_C(0)}) {
                SimpleCrypt reader(otherKey);
                QVERIFY(reader.decryptToByteArray(envelope).isEmpty());
                QCOMPARE(reader.getLastError(), SimpleCryptError::IntegrityFailed);
            }
        }
    }

    void helperEnvelopes()
    {
        const DisplayFolderEncrypterClass encrypter;
        QByteArray out("stale");
        QVERIFY(encrypter.EncryptBytes(QByteArray(), out));
        QVERIFY(out.isEmpty());
        out = "stale";
        QVERIFY(encrypter.DecryptBytes(QByteArray(), out));
        QVERIFY(out.isEmpty());

        const QByteArray document = textBytes(10000);
        QByteArray envelope;
        QVERIFY(encrypter.EncryptBytes(document, envelope));
        QCOMPARE(envelope.left(2), QByteArray::fromHex("0305"));
        QVERIFY(encrypter.DecryptBytes(envelope, out, DefaultEncryptHelper::EncryptFlags));
        QCOMPARE(out, document);

        // Every damaged byte, including the version and flags, and every truncation fails
        // and leaves no output behind.
        for (int pos = 0; pos < envelope.size(); ++pos) {
            QByteArray damaged = envelope;
            damaged[pos] = char(damaged.at(pos) ^ 0x04);
            out = "stale";
            QVERIFY2(!encrypter.DecryptBytes(damaged, out, DefaultEncryptHelper::EncryptFlags),
                     qPrintable(QString::number(pos)));
            QVERIFY(out.isEmpty());
        }
        for (int length = 1; length < envelope.size(); ++length) {
            out = "stale";
            QVERIFY(!encrypter.DecryptBytes(envelope.left(length), out, DefaultEncryptHelper::EncryptFlags));
            QVERIFY(out.isEmpty());
        }
    }

    void catalogPassword()
    {
        QCOMPARE(Const::CatalogPasswordEnvelope.size(), 80);
        QCOMPARE(Helper::GetCatalogPassword(), QString("xdsu4H9goIgrTwfl2aLTRNfHXFryEG80NTvlF"));

        const DisplayFolderEncrypterClass encrypter;
        QString out("stale");
        QVERIFY(encrypter.DecryptBase64(Const::CatalogPasswordEnvelope, out));
        QCOMPARE(out, Helper::GetCatalogPassword());
        // A damaged password text gives nothing, never a wrong password.
        QString damaged = Const::CatalogPasswordEnvelope;
        damaged[40] = damaged.at(40) == QLatin1Char('A') ? QLatin1Char('B') : QLatin1Char('A');
        QVERIFY(!encrypter.DecryptBase64(damaged, out));
        QVERIFY(out.isEmpty());
        QCOMPARE(encrypter.DecryptString(damaged), QString());
        QCOMPARE(encrypter.DecryptString(QString()), QString());
        QCOMPARE(encrypter.DecryptString(encrypter.EncryptString("round trip")), QString("round trip"));
    }

    void eightThreadsAtOnce()
    {
        std::atomic<int> failures{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < 8; ++t) {
            threads.emplace_back([t, &failures] {
                const DisplayFolderEncrypterClass encrypter;
                for (int i = 0; i < 60; ++i) {
                    const QByteArray plain = randomBytes(1 + (i * 997 + t * 131) % 20000, quint32(t * 1000 + i));
                    QByteArray envelope;
                    QByteArray back;
                    if (!encrypter.EncryptBytes(plain, envelope) || !encrypter.DecryptBytes(envelope, back, 0x05)
                        || back != plain)
                        ++failures;
                }
            });
        }
        for (std::thread &thread : threads)
            thread.join();
        QCOMPARE(failures.load(), 0);
    }
};

QTEST_GUILESS_MAIN(TestSimpleCrypt)
#include "test_simplecrypt.moc"
