#pragma once

#include <QByteArray>
#include <QtGlobal>
#include <QString>
#include <QVector>

// How the payload is compressed before enciphering.
enum class SimpleCryptCompression {
    Auto = 0,   // zlib, kept only when strictly shorter than the input
    Always = 1,
    Never = 2,
};

// Integrity value stored in the envelope.
enum class SimpleCryptProtection {
    None = 0,
    Checksum = 1, // 16-bit CRC (ISO 3309)
    Hash = 2,     // 20-byte SHA-1
};

enum class SimpleCryptError {
    NoError = 0,
    NoKeySet = 1,
    UnknownVersion = 2,
    IntegrityFailed = 3,   // also: an envelope too short to hold its header
    DecompressionFailed = 4,
};

// Bits of the envelope's flags byte.
enum SimpleCryptFlag : quint8 {
    CryptFlagCompression = 0x01,
    CryptFlagChecksum = 0x02,
    CryptFlagHash = 0x04,
};

// Symmetric cipher with a 64-bit key. Envelope: version 0x03, flags byte, then the XOR-chained
// sequence of a random byte, the integrity value and the (optionally compressed) payload.
// Stored files depend on this format: don't change it.
class SimpleCrypt
{
public:
    SimpleCrypt();
    explicit SimpleCrypt(quint64 key);

    void setKey(quint64 key);
    bool hasKey() const { return !keyParts.isEmpty(); }

    void setCompressionMode(SimpleCryptCompression mode) { compressionMode = mode; }
    SimpleCryptCompression getCompressionMode() const { return compressionMode; }
    // zlib level 1 (fastest) to 9 (smallest, the default). Readers do not depend on it.
    void setCompressionLevel(int level) { compressionLevel = qBound(1, level, 9); }
    void setProtectionMode(SimpleCryptProtection mode) { protectionMode = mode; }
    SimpleCryptProtection getProtectionMode() const { return protectionMode; }
    SimpleCryptError getLastError() const { return lastError; }
    // Flags byte of the last envelope made or successfully opened (0 otherwise).
    quint8 getLastFlags() const { return lastFlags; }

    QByteArray encryptToByteArray(const QByteArray &plain);
    QByteArray encryptToByteArray(const QString &plain);
    QString encryptToString(const QByteArray &plain);
    QString encryptToString(const QString &plain);

    QByteArray decryptToByteArray(const QByteArray &envelope);
    // Decodes the Base64 text first.
    QByteArray decryptToByteArray(const QString &base64);
    // The payload as UTF-8 text up to its first zero byte.
    QString decryptToString(const QByteArray &envelope);
    QString decryptToString(const QString &base64);

    // The payload read as UTF-8 up to its first zero byte.
    static QString PayloadToText(const QByteArray &payload);

private:
    void splitKey();

    quint64 key = 0;
    QVector<char> keyParts;
    SimpleCryptCompression compressionMode = SimpleCryptCompression::Auto;
    int compressionLevel = 9;
    SimpleCryptProtection protectionMode = SimpleCryptProtection::Checksum;
    SimpleCryptError lastError = SimpleCryptError::NoError;
    quint8 lastFlags = 0;
};
