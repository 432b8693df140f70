// Re-entrant mutual exclusion (a critical section). Any thread. The owner of a
// lock states its place in the lock order where it declares it.
#pragma once

#include <windows.h>

class CCritLock {
public:
    CCritLock() { InitializeCriticalSection(&Section); }
    ~CCritLock() { DeleteCriticalSection(&Section); }

    CCritLock(const CCritLock&) = delete;
    CCritLock& operator=(const CCritLock&) = delete;

    void Lock() { EnterCriticalSection(&Section); }
    // Takes the lock only when no other thread holds it; true when taken.
    bool TryLock() { return TryEnterCriticalSection(&Section) != 0; }
    void Unlock() { LeaveCriticalSection(&Section); }

private:
    friend class CCondition;
    CRITICAL_SECTION Section;
};
