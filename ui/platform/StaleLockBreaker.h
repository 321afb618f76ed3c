#pragma once

#include <QString>

class QLockFile;

// Takes a lock file whose owner is gone or unreadable. QLockFile alone only clears locks of
// dead processes it can name (and old ones from other machines): an empty or garbled file, or a
// folder in its place, would otherwise refuse every start for ever.
// Use QLockFile's default stale time: the live owner's file lock keeps an old lock of this
// machine from being broken, and a lock of another machine must go stale some day.
class StaleLockBreaker
{
public:
    enum Result { Taken, HeldByLiveOwner, Unusable };

    StaleLockBreaker() = delete;

    // Tries without waiting (but for one short pause for an owner still writing its details).
    static Result TryLock(QLockFile &lock, const QString &path);
};
