#pragma once

// Makes new threads of this process fail to start, as they do at the system's thread limit:
// while an instance lives, every thread start asked for by the thread that made it fails
// after the first `allowedStarts`. Threads started by other threads are not affected.
// Not available in sanitizer builds, whose runtimes start threads themselves.
class TestThreadStarts
{
public:
    explicit TestThreadStarts(int allowedStarts = 0);
    ~TestThreadStarts();
    TestThreadStarts(const TestThreadStarts &) = delete;
    TestThreadStarts &operator=(const TestThreadStarts &) = delete;

    static bool Available();
    // Starts refused so far.
    int Refused() const;
};
