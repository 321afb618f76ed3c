#include "Const.h"
#include "envelope/DisplayFolderEncrypterClass.h"
#include "Helper.h"
#include "envelope/SimpleCrypt.h"

#include <QRandomGenerator>
#include <QtTest>

Q_DECLARE_METATYPE(SimpleCryptCompression)
Q_DECLARE_METATYPE(SimpleCryptProtection)
Q_DECLARE_METATYPE(SimpleCryptError)

namespace {

const quint64 TestKey = Q_UINT64_C(0x0123456789ABCDEF);

QByteArray randomBytes(int size, quint32 seed)
{
    QVector<quint32> words(size / 4 + 1);
    QRandomGenerator(seed).fillRange(words.data(), words.size());
    return QByteArray(reinterpret_cast<const char *>(words.constData()), size);
}

QByteArray textBytes(int size)
{
    return QByteArray("Science (12 Books)|Fiction@fix;|").repeated(size / 32 + 1).left(size);
}

SimpleCrypt makeCrypt(SimpleCryptCompression compression, SimpleCryptProtection protection, quint64 key = TestKey)
{
    SimpleCrypt crypt(key);
    crypt.setCompressionMode(compression);
    crypt.setProtectionMode(protection);
    return crypt;
}

// An uncompressed envelope of payload marked as compressed (the flags byte is not chained).
QByteArray asCompressed(const QByteArray &payload)
{
    QByteArray bytes = makeCrypt(SimpleCryptCompression::Never, SimpleCryptProtection::None).encryptToByteArray(payload);
    bytes[1] = char(CryptFlagCompression);
    return bytes;
}

} // namespace

class TestSimpleCrypt : public QObject
{
    Q_OBJECT

private slots:
    void storedLayoutIsPinned()
    {
        // Envelopes made by an independent implementation with the program's key.
        const DisplayFolderEncrypterClass encrypter;
        SimpleCrypt crypt(encrypter.GetKey());
        QCOMPARE(crypt.decryptToByteArray(QByteArray::fromHex("0300edc7cd")), QByteArray("AB"));
        QCOMPARE(crypt.decryptToByteArray(QByteArray::fromHex("03022e71843ebe431506")), QByteArray("hello"));
        const QByteArray kat05 = QByteArray::fromHex(
            "0305b78922a928f8e23a5ca067178d63036c0bc1191566f7cdb1495ac811bd01152706c4d8426c324174b4"
            "f5eb59ec35c2f519726cdd3fc2");
        QCOMPARE(crypt.decryptToByteArray(kat05), QByteArray("Tessaly folders \0 end", 21));
        QCOMPARE(crypt.getLastError(), SimpleCryptError::NoError);
        QCOMPARE(crypt.decryptToString(kat05), QString("Tessaly folders "));
        QCOMPARE(encrypter.DecryptString(QString::fromLatin1(kat05.toBase64())), QString("Tessaly folders "));
        // The folders file: compressed, with the hash, and read only in that form.
        QByteArray sealed;
        QByteArray back;
        QVERIFY(encrypter.EncryptBytes(QByteArray("x"), sealed) && sealed.left(2) == QByteArray("\x03\x05"));
        QVERIFY(encrypter.DecryptBytes(sealed, back, 0x05) && back == "x" && !encrypter.DecryptBytes(sealed, back, 0x04));

        // The catalogue password; a damaged text gives nothing, never a wrong password.
        QCOMPARE(Helper::GetCatalogPassword(), QString("xdsu4H9goIgrTwfl2aLTRNfHXFryEG80NTvlF"));
        QString damaged = Const::CatalogPasswordEnvelope;
        damaged[40] = damaged.at(40) == QLatin1Char('A') ? QLatin1Char('B') : QLatin1Char('A');
        QString out("stale");
        QVERIFY(!encrypter.DecryptBase64(damaged, out));
        QVERIFY(out.isEmpty());
        QCOMPARE(encrypter.DecryptString(damaged), QString());
        QCOMPARE(encrypter.DecryptString(QString()), QString());
    }

    void roundTripEveryModePair_data()
    {
        QTest::addColumn<SimpleCryptCompression>("compression");
        QTest::addColumn<SimpleCryptProtection>("protection");
        const char *names[] = {"auto", "always", "never", "none", "checksum", "hash"};
        for (int c = 0; c < 3; ++c)
            for (int p = 0; p < 3; ++p)
                QTest::addRow("%s/%s", names[c], names[3 + p]) << SimpleCryptCompression(c) << SimpleCryptProtection(p);
    }

    void roundTripEveryModePair()
    {
        QFETCH(SimpleCryptCompression, compression);
        QFETCH(SimpleCryptProtection, protection);
        for (int size : {0, 1, 2, 3, 20, 21, 100, 4096, 1 << 20}) {
            for (const QByteArray &plain : {randomBytes(size, quint32(size)), textBytes(size)}) {
                const QByteArray envelope = makeCrypt(compression, protection).encryptToByteArray(plain);
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

    void rejectedEnvelopes_data()
    {
        QTest::addColumn<QByteArray>("envelope");
        QTest::addColumn<SimpleCryptError>("error");
        const auto integrity = SimpleCryptError::IntegrityFailed;
        const auto decompression = SimpleCryptError::DecompressionFailed;
        QTest::newRow("unknown version") << QByteArray::fromHex("0200aabbcc") << SimpleCryptError::UnknownVersion;
        // Too short to be an envelope: a failure, not an empty success.
        QTest::newRow("empty") << QByteArray() << integrity;
        QTest::newRow("version only") << QByteArray("\x03") << integrity;
        QTest::newRow("no payload") << QByteArray("\x03\x00", 2) << integrity;
        const QByteArray text = textBytes(200);
        for (auto protection : {SimpleCryptProtection::Checksum, SimpleCryptProtection::Hash}) {
            for (quint64 key : {TestKey + 1, TestKey ^ (Q_UINT64_C(1) << 63), Q_UINT64_C(0)})
                QTest::addRow("sealed with key %llx, protection %d", key, int(protection))
                    << makeCrypt(SimpleCryptCompression::Auto, protection, key).encryptToByteArray(text) << integrity;
        }
        // A stated length of 2 GB must neither allocate it nor pass.
        QTest::newRow("2 GB stated") << asCompressed(QByteArray::fromHex("7fffffff789c0300")) << decompression;
        QTest::newRow("not a stream") << asCompressed(QByteArray::fromHex("00000010deadbeefdeadbeef")) << decompression;
        QTest::newRow("length cut") << asCompressed(QByteArray::fromHex("0000")) << decompression;
        QByteArray lying = qCompress(QByteArray("twelve bytes"), 9);
        lying[3] = char(20);
        QTest::newRow("stated length disagrees") << asCompressed(lying) << decompression;
        // The compressed form of nothing is a valid empty payload.
        QTest::newRow("compressed nothing") << asCompressed(QByteArray(4, '\0')) << SimpleCryptError::NoError;
        QTest::newRow("nothing, then more") << asCompressed(QByteArray(5, '\0')) << decompression;
    }

    void rejectedEnvelopes()
    {
        QFETCH(QByteArray, envelope);
        QFETCH(SimpleCryptError, error);
        SimpleCrypt crypt(TestKey);
        if (error == SimpleCryptError::UnknownVersion)
            QTest::ignoreMessage(QtWarningMsg, "Invalid version or not a cyphertext.");
        QVERIFY(crypt.decryptToByteArray(envelope).isEmpty());
        QCOMPARE(crypt.getLastError(), error);
    }
};

QTEST_GUILESS_MAIN(TestSimpleCrypt)
#include "test_simplecrypt.moc"
