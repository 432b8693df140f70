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
    void Unlock() { LeaveCriticalSection(&Section); }

private:
    CRITICAL_SECTION Section;
};
