// Holds a CCritLock for the lifetime of the holder, on every path out.
#pragma once

#include "framework/CritLock.h"

class CScopedLock {
public:
    explicit CScopedLock(CCritLock* lock) : Held(lock) { Held->Lock(); }
    ~CScopedLock() { Held->Unlock(); }

    CScopedLock(const CScopedLock&) = delete;
    CScopedLock& operator=(const CScopedLock&) = delete;

private:
    CCritLock* const Held;
};
