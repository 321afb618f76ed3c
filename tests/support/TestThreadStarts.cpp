#include "TestThreadStarts.h"

#include <atomic>
#include <cerrno>

#include <dlfcn.h>
#include <pthread.h>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define TESSALY_NO_THREAD_START_HOOK 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define TESSALY_NO_THREAD_START_HOOK 1
#endif
#endif

namespace {
std::atomic<bool> g_armed{false};
std::atomic<int> g_allowed{0};
std::atomic<int> g_refused{0};
pthread_t g_owner;
} // namespace

#ifndef TESSALY_NO_THREAD_START_HOOK
// Takes the place of the C library's function for the whole process (Qt's threads included).
extern "C" int pthread_create(pthread_t *thread, const pthread_attr_t *attr, void *(*start)(void *), void *arg)
{
    using Real = int (*)(pthread_t *, const pthread_attr_t *, void *(*)(void *), void *);
    static const Real real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "pthread_create"));
    if (g_armed.load() && pthread_equal(pthread_self(), g_owner) && g_allowed.fetch_sub(1) <= 0) {
        g_refused.fetch_add(1);
        return EAGAIN;
    }
    return real(thread, attr, start, arg);
}
#endif

TestThreadStarts::TestThreadStarts(int allowedStarts)
{
    g_owner = pthread_self();
    g_allowed.store(allowedStarts);
    g_refused.store(0);
    g_armed.store(Available());
}

TestThreadStarts::~TestThreadStarts()
{
    g_armed.store(false);
}

bool TestThreadStarts::Available()
{
#ifdef TESSALY_NO_THREAD_START_HOOK
    return false;
#else
    return true;
#endif
}

int TestThreadStarts::Refused() const
{
    return g_refused.load();
}
