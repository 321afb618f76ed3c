#pragma once

#include <QByteArray>
#include <QString>

// Enciphers with a SimpleCrypt whose key is derived from the subclass's key seed.
// Every failure gives false (or an empty text) and never leaves partial output behind.
class DefaultEncryptHelper
{
public:
    virtual ~DefaultEncryptHelper() = default;

    virtual quint64 GetKeySeed() const = 0;
    // The cipher key: key seed minus 4.
    quint64 GetKey() const { return GetKeySeed() - 4; }

    // Compressed, SHA-1 protected envelope (flags 0x05). An empty input gives an empty output.
    bool EncryptBytes(const QByteArray &input, QByteArray &output) const;
    // An empty input gives an empty output and true. A damaged, truncated or undecompressable
    // envelope fails. With expectedFlags other than 0 the envelope's flags byte must equal it,
    // so that a damaged flags byte cannot switch the integrity check off.
    bool DecryptBytes(const QByteArray &input, QByteArray &output, quint8 expectedFlags = 0) const;
    // Base64 text of an envelope to UTF-8 text (up to the first zero byte).
    bool DecryptBase64(const QString &base64, QString &output) const;
    // The deciphered text, empty on failure.
    QString DecryptString(const QString &base64) const;

    // Flags of the envelopes EncryptBytes writes.
    static constexpr quint8 EncryptFlags = 0x05;
};
