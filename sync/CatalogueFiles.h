#pragma once

#include <QString>
#include <QStringList>

class QByteArray;

// Small file helpers of the local catalogue files (slot files and the slot pointer) and of the
// downloads that write them.

// The bytes as UTF-8 text up to the first zero byte.
QString TextUpToZero(const QByteArray &bytes);
// The file's text (TextUpToZero); empty when missing, unreadable or empty.
QString ReadTextFile(const QString &path);
// Replaces the file atomically with the bytes. False when anything failed (open, write or
// commit); the old file is then unchanged.
bool WriteBytesFile(const QString &path, const QByteArray &bytes);
// WriteBytesFile with the text as UTF-8.
bool WriteTextFile(const QString &path, const QString &text);
// The file exists and opens for reading and writing (it is closed again at once).
bool IsFileUsable(const QString &path);
// Removes those files beside a catalogue file; a catalogue never needs them, and a stray one
// must not outlive its slot.
void RemoveSidecarFiles(const QString &path);
// Both name the same file (compared without regard to case, as the slot search does). Empty never matches.
bool IsSameFilePath(const QString &a, const QString &b);
