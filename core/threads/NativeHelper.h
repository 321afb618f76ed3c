#pragma once

class QReadWriteLock;

// Program-wide closing flag and the two program-wide reader-writer locks.
class NativeHelper
{
public:
    NativeHelper() = delete;

    // Set once by the shutdown worker under _mainLocker (write); never cleared.
    static bool _isCloseApplication;
    // Guards _isCloseApplication only; the innermost lock of the program.
    static QReadWriteLock *_mainLocker;
    // Held for writing by settings writes, folders-file writes and folder computations.
    static QReadWriteLock *_configLocker;

    // Reads the closing flag under _mainLocker.
    static bool IsClosing();
    // Sets the closing flag under _mainLocker (write). One-way.
    static void SetClosing();
};
