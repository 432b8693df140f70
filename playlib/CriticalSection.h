// A Win32 critical section owned for its lifetime, with a scoped holder.
// Private to the stand-in library.
#pragma once

#include <windows.h>

class CCriticalSection {
public:
    CCriticalSection() { InitializeCriticalSection(&Section); }
    ~CCriticalSection() { DeleteCriticalSection(&Section); }
    CCriticalSection(const CCriticalSection&) = delete;
    CCriticalSection& operator=(const CCriticalSection&) = delete;

    CRITICAL_SECTION* Native() { return &Section; }

    // Holds the section from construction to destruction.
    class CHolder {
    public:
        explicit CHolder(CCriticalSection& lock) : Lock(lock) { EnterCriticalSection(&Lock.Section); }
        ~CHolder() { LeaveCriticalSection(&Lock.Section); }
        CHolder(const CHolder&) = delete;
        CHolder& operator=(const CHolder&) = delete;

    private:
        CCriticalSection& Lock;
    };

    // Leaves a section the caller holds (once) for its scope, and enters it again.
    class CReleaser {
    public:
        explicit CReleaser(CCriticalSection& lock) : Lock(lock) { LeaveCriticalSection(&Lock.Section); }
        ~CReleaser() { EnterCriticalSection(&Lock.Section); }
        CReleaser(const CReleaser&) = delete;
        CReleaser& operator=(const CReleaser&) = delete;

    private:
        CCriticalSection& Lock;
    };

private:
    CRITICAL_SECTION Section;
};
