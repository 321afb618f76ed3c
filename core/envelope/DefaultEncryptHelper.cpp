#include "envelope/DefaultEncryptHelper.h"

#include "envelope/SimpleCrypt.h"

bool DefaultEncryptHelper::EncryptBytes(const QByteArray &input, QByteArray &output) const
{
    output.clear();
    if (input.isEmpty())
        return true;
    SimpleCrypt crypt(GetKey());
    crypt.setCompressionMode(SimpleCryptCompression::Always);
    // Level 9 spends about nine times as long for a file only about a tenth smaller; the folders
    // file is written under the folder store's write lock, which the window waits for.
    crypt.setCompressionLevel(1);
    crypt.setProtectionMode(SimpleCryptProtection::Hash);
    const QByteArray envelope = crypt.encryptToByteArray(input);
    if (crypt.getLastError() != SimpleCryptError::NoError)
        return false;
    output = envelope;
    return true;
}

bool DefaultEncryptHelper::DecryptBytes(const QByteArray &input, QByteArray &output,
                                        quint8 expectedFlags) const
{
    output.clear();
    if (input.isEmpty())
        return true;
    SimpleCrypt crypt(GetKey());
    const QByteArray payload = crypt.decryptToByteArray(input);
    if (crypt.getLastError() != SimpleCryptError::NoError)
        return false;
    if (expectedFlags != 0 && crypt.getLastFlags() != expectedFlags)
        return false;
    output = payload;
    return true;
}

bool DefaultEncryptHelper::DecryptBase64(const QString &base64, QString &output) const
{
    output.clear();
    QByteArray payload;
    if (!DecryptBytes(QByteArray::fromBase64(base64.toUtf8()), payload))
        return false;
    output = SimpleCrypt::PayloadToText(payload);
    return true;
}

QString DefaultEncryptHelper::DecryptString(const QString &base64) const
{
    if (base64.isEmpty())
        return QString();
    QString text;
    if (!DecryptBase64(base64, text))
        return QString();
    return text;
}

