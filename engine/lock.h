// Holds a critical section for one block, released on every way out of it.
#pragma once

#include <windows.h>

class Lock {
public:
    explicit Lock(CRITICAL_SECTION &cs) : cs_(cs) { EnterCriticalSection(&cs_); }
    ~Lock() { LeaveCriticalSection(&cs_); }
    Lock(const Lock &) = delete;
    Lock &operator=(const Lock &) = delete;

private:
    CRITICAL_SECTION &cs_;
};
