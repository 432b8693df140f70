// A Win32 critical section owned for the life of the object. Lockable with
// std::lock_guard / std::unique_lock (lock/unlock), usable from any thread.
#pragma once

#include <windows.h>

class CCriticalSection {
public:
    CCriticalSection();
    ~CCriticalSection();
    CCriticalSection(const CCriticalSection&) = delete;
    CCriticalSection& operator=(const CCriticalSection&) = delete;

    void lock();
    bool try_lock();
    void unlock();

private:
    CRITICAL_SECTION Section;
};
