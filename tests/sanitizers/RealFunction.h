#pragma once

#include <dlfcn.h>

#include <sanitizer/tsan_interface.h>

// The definitions in these files stand in for Qt's own (the executable's definitions win over the
// shared library's); the next definition after the executable's is the library's.
template <typename Function>
Function RealFunction(const char *symbol)
{
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, symbol));
}

// Acquires sync when the real call reports the hand-over (a lock taken, a thread seen ended).
inline bool AcquireIf(bool handedOver, void *sync)
{
    if (handedOver)
        __tsan_acquire(sync);
    return handedOver;
}
