#pragma once

#include <QString>

class QMutex;

// Emptying of the cache folders. Every clearing is serialised: the given mutex is held for the
// whole operation, and a null mutex means Const::FileAccessMutex, never "unlocked". The mutex is
// not recursive: don't call these while holding it.

// Removes the cached covers from the image cache folder.
void ClearImageCacheFolder(QMutex *mutex);
// Removes the catalogue slot files and the slot pointer from the database folder.
void ClearDatabaseCacheFolder(QMutex *mutex);

// Removes the "*.rfile" and "*.prefile" files of folder (no links, no sub-folders). A missing
// folder is left alone; files that cannot be removed stay. The caller serialises.
void RemoveCachedFiles(const QString &folder);
