#pragma once

#include <QString>

// Small file helpers of the local catalogue files (slot files and the slot pointer).

// The file's text (UTF-8 up to the first zero byte); empty when missing, unreadable or empty.
QString ReadTextFile(const QString &path);
// Replaces the file atomically with the UTF-8 text. False when anything failed (open, write or
// commit); the old file is then unchanged.
bool WriteTextFile(const QString &path, const QString &text);
// The file exists and opens for reading and writing (it is closed again at once).
bool IsFileUsable(const QString &path);
// Both name the same file (compared without regard to case, as the slot search does). Empty never matches.
bool IsSameFilePath(const QString &a, const QString &b);
