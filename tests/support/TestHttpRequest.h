#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>

// One request as TestHttpServer received it.
struct TestHttpRequest
{
    QByteArray method;                            // "GET", ...
    QByteArray path;                              // as sent on the request line, query included
    QList<QPair<QByteArray, QByteArray>> headers; // in arrival order, names as sent
    QByteArray body;

    // The first header of that name (case-insensitive), empty when absent.
    QByteArray Header(const QByteArray &name) const
    {
        for (const auto &h : headers) {
            if (h.first.compare(name, Qt::CaseInsensitive) == 0)
                return h.second;
        }
        return QByteArray();
    }
    QByteArray PathOnly() const { return path.split('?').value(0); }
};
