#pragma once

#include <QString>

class QLockFile;

// Takes a lock file whose owner is gone or unreadable. QLockFile alone only clears locks of
// dead processes it can name: an empty or garbled file, or a folder in its place, would
// otherwise refuse every start for ever when locks never go stale by age.
class StaleLockBreaker
{
public:
    enum Result { Taken, HeldByLiveOwner, Unusable };

    StaleLockBreaker() = delete;

    // Tries without waiting (but for one short pause for an owner still writing its details).
    static Result TryLock(QLockFile &lock, const QString &path);
};
