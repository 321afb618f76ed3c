#include "TestHttpResponse.h"

#include <zlib.h>

TestHttpResponse TestHttpResponse::Chunked(const QByteArray &body, int chunkBytes)
{
    QByteArray coded;
    for (int at = 0; at < body.size(); at += chunkBytes) {
        const QByteArray chunk = body.mid(at, chunkBytes);
        coded += QByteArray::number(chunk.size(), 16) + "\r\n" + chunk + "\r\n";
    }
    return Ok(coded + "0\r\n\r\n").With("Transfer-Encoding", "chunked")
        .Set(&TestHttpResponse::sendContentLength, false);
}

TestHttpResponse TestHttpResponse::Gzip(const QByteArray &plain)
{
    // RFC 1952 around zlib's deflate data (qCompress without its length prefix, zlib header
    // and Adler-32 trailer).
    const QByteArray zlib = qCompress(plain, 9).mid(4);
    const auto crc = quint32(crc32(0, reinterpret_cast<const Bytef *>(plain.constData()), uInt(plain.size())));
    QByteArray member = QByteArray::fromHex("1f8b0800000000000003") + zlib.mid(2, zlib.size() - 6);
    for (const quint32 value : {crc, quint32(plain.size())})
        for (int i = 0; i < 4; ++i)
            member.append(char((value >> (8 * i)) & 0xff));
    return Ok(member).With("Content-Encoding", "gzip");
}
