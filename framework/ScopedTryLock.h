// Takes a CCritLock only when no other thread holds it, and then holds it for
// the lifetime of the holder, on every path out. Holds() tells which.
#pragma once

#include "framework/CritLock.h"

class CScopedTryLock {
public:
    explicit CScopedTryLock(CCritLock* lock) : Held(lock->TryLock() ? lock : nullptr) {}
    ~CScopedTryLock() {
        if (Held) Held->Unlock();
    }

    CScopedTryLock(const CScopedTryLock&) = delete;
    CScopedTryLock& operator=(const CScopedTryLock&) = delete;

    bool Holds() const { return Held != nullptr; }

private:
    CCritLock* const Held;
};
