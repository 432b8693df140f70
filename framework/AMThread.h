// A worker thread with a one-request, one-reply channel.
//
// Controller threads call StartThread, SendRequest, JoinThread and
// IsThreadRunning; only the worker (inside WorkerLoop) calls WaitRequest,
// PeekRequest and ReplyToRequest. AccessLock serialises senders and
// StartThread and is held by a sender until its reply arrives; it comes after
// any filter lock in the lock order, and the worker must not need a lock that
// a sender holds before it replies. RequestCode and ReplyValue are handed over
// through the two events rather than a lock. ThreadHandle owns the worker's
// handle (JoinThread closes it); it is atomic so that any controller may ask
// IsThreadRunning. Derived classes place CAMThread first among their bases
// and join the thread in their own destructor, since the worker runs their
// WorkerLoop.
#pragma once

#include "framework/CritLock.h"
#include "framework/SyncEvent.h"

#include <windows.h>

#include <atomic>

// Enters the multithreaded apartment through CoInitializeEx looked up in the
// already loaded ole32.dll; E_FAIL when it cannot be found.
HRESULT InitThreadCom();

class CAMThread {
public:
    CAMThread();
    virtual DWORD WorkerLoop() = 0;
    virtual ~CAMThread();

    CAMThread(const CAMThread&) = delete;
    CAMThread& operator=(const CAMThread&) = delete;

    // True when a new thread was created; false when one exists, an event is
    // missing or the thread cannot be created.
    bool StartThread();
    // The worker's stack reservation. The worker runs downstream filters'
    // code (Receive and everything it calls) on its stack, so it gets what
    // Windows gives a thread by default rather than whatever the host
    // executable asks for (2 MB for MinGW programs), which in a process of
    // many graphs is address space taken for nothing.
    static constexpr SIZE_T StackReserve = 1024 * 1024;
    bool IsThreadRunning() const { return ThreadHandle.load() != nullptr; }
    // Blocks until the worker replies; E_FAIL at once when no thread exists.
    DWORD SendRequest(DWORD code);
    DWORD WaitRequest();
    bool PeekRequest(DWORD* code);
    void ReplyToRequest(DWORD value);
    // Waits for the thread to end and forgets it; returns at once when idle.
    void JoinThread();

private:
    static DWORD WINAPI ThreadEntry(void* self);

    CSyncEvent RequestEvent;
    CSyncEvent ReplyEvent;
    DWORD RequestCode;
    DWORD ReplyValue;
    std::atomic<bool> RequestPosted{false};
    std::atomic<HANDLE> ThreadHandle;
    CCritLock AccessLock;
};
