// An IMFAsyncCallback that hands the result of one asynchronous MF call (a
// byte-stream handler's BeginCreateObject) to the thread that waits for it.
//
// Counted for real and made on the heap: a work queue lets go of its
// callback after Invoke has returned, and may do so long after the waiter
// has gone on, so a callback that lived on the waiter's stack would be
// released dead (Wine's queues crashed test runs that way).
//
// Threads: Invoke on the work queue's thread, Await on the waiting one.
// Lock: Section guards Result and Abandoned. The result holds this callback
// until it goes, so Await hands it out rather than keeping it, and a result
// that comes after Await gave up is not kept at all.
#pragma once

#include "common/AdoptReference.h"

#include <mfobjects.h>
#include <windows.h>
#include <wrl/client.h>

#include <atomic>
#include <new>

class CAsyncResultWait final : public IMFAsyncCallback {
public:
    // Null when out of memory or handles.
    static Microsoft::WRL::ComPtr<CAsyncResultWait> Make() {
        Microsoft::WRL::ComPtr<CAsyncResultWait> made = AdoptReference(new (std::nothrow) CAsyncResultWait());
        if (made && !made->Done) made.Reset();
        return made;
    }

    CAsyncResultWait(const CAsyncResultWait&) = delete;
    CAsyncResultWait& operator=(const CAsyncResultWait&) = delete;

    // The result, once; null when none came within ms.
    Microsoft::WRL::ComPtr<IMFAsyncResult> Await(DWORD ms) {
        const bool came = WaitForSingleObject(Done, ms) == WAIT_OBJECT_0;
        Microsoft::WRL::ComPtr<IMFAsyncResult> result;
        EnterCriticalSection(&Section);
        if (came) result = std::move(Result);
        Abandoned = !came;
        Result.Reset();
        LeaveCriticalSection(&Section);
        return result;
    }

    STDMETHODIMP QueryInterface(REFIID id, void** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (!IsEqualIID(id, IID_IUnknown) && !IsEqualIID(id, IID_IMFAsyncCallback)) return E_NOINTERFACE;
        *out = static_cast<IMFAsyncCallback*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++References; }
    STDMETHODIMP_(ULONG) Release() override {
        const ULONG left = --References;
        if (left == 0) delete this;
        return left;
    }
    STDMETHODIMP GetParameters(DWORD*, DWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(IMFAsyncResult* result) override {
        EnterCriticalSection(&Section);
        if (!Abandoned) Result = result;
        LeaveCriticalSection(&Section);
        SetEvent(Done);
        return S_OK;
    }

private:
    CAsyncResultWait() : Done(CreateEventW(nullptr, TRUE, FALSE, nullptr)) { InitializeCriticalSection(&Section); }
    ~CAsyncResultWait() {
        if (Done) CloseHandle(Done);
        DeleteCriticalSection(&Section);
    }

    std::atomic<ULONG> References{1};
    const HANDLE Done;
    CRITICAL_SECTION Section;
    Microsoft::WRL::ComPtr<IMFAsyncResult> Result;
    bool Abandoned = false;
};
