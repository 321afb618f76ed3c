#pragma once

#include "threads/IBaseCloseable.h"

#include <atomic>

// A canceller whose close request a test sets from any thread.
class TestCloseable : public IBaseCloseable
{
public:
    std::atomic<bool> close{false};
    bool IsCloseRequested() override { return close; }
};
