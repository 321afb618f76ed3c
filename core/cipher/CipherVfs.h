#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Read-only SQLite VFS that decrypts catalogue pages on the fly.
//
// There is one registered VFS per password: in shared-cache mode SQLite reuses an open
// file for every connection to the same path through the same VFS, so a connection with
// another password must never reach that file through the same VFS. The VFS keeps the
// password in memory (never in a URI or a file name) and caches the derived key per salt,
// so that repeated opens of one file skip the key derivation.
//
// Main database files are opened read-only and authenticated at open time: a wrong
// password, a file that is not a catalogue, a truncated file or a file whose size is not
// whole pages makes sqlite3_open_v2 fail with SQLITE_NOTADB. A page whose tag does not
// match later reads as SQLITE_CORRUPT. No memory mapping is offered (io methods version 1).
// SQLite's own page cache keeps decrypted pages. Other files (temp files, statement
// journals) pass through to the default VFS.
class CipherVfs
{
public:
    CipherVfs() = delete;

    // Name of the VFS that reads files encrypted with this password, registering it on
    // first use. Empty (and *error set) for an empty password, a raw-key form that the
    // format reserves, or when SQLite or OpenSSL cannot provide what is needed.
    static QByteArray VfsNameForPassword(const QByteArray &password, QString *error = nullptr);

    // Text of the last open failure of the calling thread, for a clearer driver message
    // than SQLite's generic "file is not a database". Cleared by each main-file open.
    static QString LastOpenFailure();

    // Name endings of the journal, log and shared-memory files SQLite could leave beside a
    // catalogue. The VFS reports them as absent; whoever replaces a catalogue removes them.
    static QStringList SidecarSuffixes();
};
