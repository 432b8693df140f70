// A hidden window for the library's notices, owned by the creating thread,
// which must also call Wait: posted notices land in that thread's queue.
#pragma once

#include <windows.h>

#include <map>

class CNoticeListener {
public:
    enum WaitResult { GotMessage, GotEvent, TimedOut };

    CNoticeListener();
    ~CNoticeListener();
    CNoticeListener(const CNoticeListener&) = delete;
    CNoticeListener& operator=(const CNoticeListener&) = delete;

    HWND Handle() const { return Window; }
    // Pumps this thread's messages until a msg that no earlier Wait claimed
    // has arrived (and claims it), event (if given) is signalled, or
    // timeoutMs passes.
    WaitResult Wait(UINT msg, DWORD timeoutMs, HANDLE event = nullptr);
    // How many of msg have arrived so far.
    int Count(UINT msg) const;

private:
    HWND Window = nullptr;
    std::map<UINT, int> Unclaimed;
    std::map<UINT, int> Received;
};
