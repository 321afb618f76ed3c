#include "envelope/SimpleCrypt.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QDebug>
#include <QRandomGenerator>

namespace {

const char EnvelopeVersion = 0x03;
const int Sha1Size = 20;
// zlib cannot expand data by more than about 1032:1; a larger stated length is damage,
// and must not make qUncompress allocate gigabytes.
const qint64 MaxInflateRatio = 1100;

bool uncompressChecked(const QByteArray &compressed, QByteArray &out)
{
    out.clear();
    if (compressed.size() < 4)
        return false;
    const auto *data = reinterpret_cast<const uchar *>(compressed.constData());
    const quint32 statedSize = (quint32(data[0]) << 24) | (quint32(data[1]) << 16)
                               | (quint32(data[2]) << 8) | quint32(data[3]);
    if (statedSize == 0)
        return compressed.size() == 4; // qCompress of nothing
    if (qint64(statedSize) > qint64(compressed.size()) * MaxInflateRatio)
        return false;
    out = qUncompress(compressed);
    if (out.size() != qint64(statedSize)) {
        out.clear();
        return false;
    }
    return true;
}

} // namespace

SimpleCrypt::SimpleCrypt() = default;

SimpleCrypt::SimpleCrypt(quint64 key) : key(key)
{
    splitKey();
}

void SimpleCrypt::setKey(quint64 newKey)
{
    key = newKey;
    splitKey();
}

void SimpleCrypt::splitKey()
{
    keyParts.clear();
    keyParts.resize(8);
    for (int i = 0; i < 8; ++i)
        keyParts[i] = char((key >> (8 * i)) & 0xff);
}

QByteArray SimpleCrypt::encryptToByteArray(const QString &plain)
{
    return encryptToByteArray(plain.toUtf8());
}

QByteArray SimpleCrypt::encryptToByteArray(const QByteArray &plain)
{
    lastFlags = 0;
    if (keyParts.isEmpty()) {
        qWarning() << "No key set.";
        lastError = SimpleCryptError::NoKeySet;
        return QByteArray();
    }

    QByteArray payload = plain;
    quint8 flags = 0;
    if (compressionMode == SimpleCryptCompression::Always) {
        payload = qCompress(payload, compressionLevel);
        flags |= CryptFlagCompression;
    } else if (compressionMode == SimpleCryptCompression::Auto) {
        const QByteArray compressed = qCompress(payload, compressionLevel);
        if (compressed.size() < payload.size()) {
            payload = compressed;
            flags |= CryptFlagCompression;
        }
    }

    QByteArray integrity;
    if (protectionMode == SimpleCryptProtection::Checksum) {
        flags |= CryptFlagChecksum;
        QDataStream stream(&integrity, QIODevice::WriteOnly);
        stream << qChecksum(payload.constData(), uint(payload.size()), Qt::ChecksumIso3309);
    } else if (protectionMode == SimpleCryptProtection::Hash) {
        flags |= CryptFlagHash;
        integrity = QCryptographicHash::hash(payload, QCryptographicHash::Sha1);
    }

    // The random byte only varies the cipher text; decryption drops it.
    const char randomByte = char(QRandomGenerator::global()->generate() & 0xff);
    QByteArray sequence;
    sequence.reserve(1 + integrity.size() + payload.size());
    sequence.append(randomByte).append(integrity).append(payload);

    char last = 0;
    for (int pos = 0; pos < sequence.size(); ++pos) {
        sequence[pos] = char(sequence.at(pos) ^ keyParts.at(pos % 8) ^ last);
        last = sequence.at(pos);
    }

    QByteArray envelope;
    envelope.reserve(2 + sequence.size());
    envelope.append(EnvelopeVersion).append(char(flags)).append(sequence);
    lastError = SimpleCryptError::NoError;
    lastFlags = flags;
    return envelope;
}

QString SimpleCrypt::encryptToString(const QByteArray &plain)
{
    return QString::fromLatin1(encryptToByteArray(plain).toBase64());
}

QString SimpleCrypt::encryptToString(const QString &plain)
{
    return encryptToString(plain.toUtf8());
}

QByteArray SimpleCrypt::decryptToByteArray(const QString &base64)
{
    return decryptToByteArray(QByteArray::fromBase64(base64.toLatin1()));
}

QByteArray SimpleCrypt::decryptToByteArray(const QByteArray &envelope)
{
    lastFlags = 0;
    if (keyParts.isEmpty()) {
        qWarning() << "No key set.";
        lastError = SimpleCryptError::NoKeySet;
        return QByteArray();
    }
    // Too short to hold version, flags and random byte: damaged, never a success.
    if (envelope.size() < 3) {
        lastError = SimpleCryptError::IntegrityFailed;
        return QByteArray();
    }
    if (envelope.at(0) != EnvelopeVersion) {
        lastError = SimpleCryptError::UnknownVersion;
        qWarning() << "Invalid version or not a cyphertext.";
        return QByteArray();
    }

    const quint8 flags = quint8(envelope.at(1));
    QByteArray sequence = envelope.mid(2);
    char last = 0;
    for (int pos = 0; pos < sequence.size(); ++pos) {
        const char current = sequence.at(pos);
        sequence[pos] = char(current ^ last ^ keyParts.at(pos % 8));
        last = current;
    }
    sequence.remove(0, 1); // the random byte

    if (flags & CryptFlagChecksum) {
        if (sequence.size() < 2) {
            lastError = SimpleCryptError::IntegrityFailed;
            return QByteArray();
        }
        const quint16 stored = quint16((quint8(sequence.at(0)) << 8) | quint8(sequence.at(1)));
        sequence.remove(0, 2);
        if (stored != qChecksum(sequence.constData(), uint(sequence.size()), Qt::ChecksumIso3309)) {
            lastError = SimpleCryptError::IntegrityFailed;
            return QByteArray();
        }
    } else if (flags & CryptFlagHash) {
        if (sequence.size() < Sha1Size) {
            lastError = SimpleCryptError::IntegrityFailed;
            return QByteArray();
        }
        const QByteArray stored = sequence.left(Sha1Size);
        sequence.remove(0, Sha1Size);
        if (stored != QCryptographicHash::hash(sequence, QCryptographicHash::Sha1)) {
            lastError = SimpleCryptError::IntegrityFailed;
            return QByteArray();
        }
    }

    if (flags & CryptFlagCompression) {
        QByteArray plain;
        if (!uncompressChecked(sequence, plain)) {
            lastError = SimpleCryptError::DecompressionFailed;
            return QByteArray();
        }
        sequence = plain;
    }

    lastError = SimpleCryptError::NoError;
    lastFlags = flags;
    return sequence;
}

QString SimpleCrypt::PayloadToText(const QByteArray &payload)
{
    return QString::fromUtf8(payload.constData(), int(qstrnlen(payload.constData(), uint(payload.size()))));
}

QString SimpleCrypt::decryptToString(const QByteArray &envelope)
{
    return PayloadToText(decryptToByteArray(envelope));
}

QString SimpleCrypt::decryptToString(const QString &base64)
{
    return PayloadToText(decryptToByteArray(base64));
}
