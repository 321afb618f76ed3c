#pragma once

// Cancel check handed by workers to transfers and queries.
class IBaseCloseable
{
public:
    virtual ~IBaseCloseable() = default;
    virtual bool IsCloseRequested() = 0;
};
