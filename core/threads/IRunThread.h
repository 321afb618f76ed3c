#pragma once

// The body that a worker's thread runs.
class IRunThread
{
public:
    virtual ~IRunThread() = default;
    virtual void Run() = 0;
};
