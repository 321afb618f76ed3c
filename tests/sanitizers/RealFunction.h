#pragma once

#include <dlfcn.h>

// The definitions in these files stand in for Qt's own (the executable's definitions win over the
// shared library's); the next definition after the executable's is the library's.
template <typename Function>
Function RealFunction(const char *symbol)
{
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, symbol));
}
