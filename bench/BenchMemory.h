#pragma once

#include <QFile>
#include <QList>

// Memory figures of this process from /proc, shared by the benchmarks.
namespace BenchMemory {

// "VmHWM" (peak resident size) or "VmRSS" of this process, in KiB; -1 when unknown.
inline qint64 MemoryKiB(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> lines = status.readAll().split('\n');
    for (const QByteArray &line : lines) {
        if (line.startsWith(field))
            return line.mid(int(qstrlen(field)) + 1).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

// Lets the kernel start counting the peak again from the current size.
inline void ResetPeakMemory()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

} // namespace BenchMemory
