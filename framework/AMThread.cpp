#include "framework/AMThread.h"

#include "framework/ScopedLock.h"
#include "framework/UniqueHandle.h"

#include <objbase.h>

HRESULT InitThreadCom() {
    HMODULE ole = GetModuleHandleA("ole32.dll");
    if (ole) {
        typedef HRESULT(WINAPI * CoInitializeExProc)(void*, DWORD);
        auto initialize = reinterpret_cast<CoInitializeExProc>(
            reinterpret_cast<void*>(GetProcAddress(ole, "CoInitializeEx")));
        if (initialize) {
            return initialize(nullptr, COINIT_DISABLE_OLE1DDE | COINIT_MULTITHREADED);
        }
    }
    return E_FAIL;
}

CAMThread::CAMThread()
    : RequestEvent(true), ReplyEvent(false), RequestCode(0), ReplyValue(0), ThreadHandle(nullptr) {}

CAMThread::~CAMThread() {
    JoinThread();
}

bool CAMThread::StartThread() {
    CScopedLock hold(&AccessLock);
    // Without both events no request could ever be answered: refuse to start,
    // so SendRequest fails at once instead of returning a stale reply.
    if (ThreadHandle.load() || !RequestEvent.Handle() || !ReplyEvent.Handle()) {
        return false;
    }
    ThreadHandle = CreateThread(nullptr, StackReserve, ThreadEntry, this, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    return ThreadHandle.load() != nullptr;
}

DWORD CAMThread::SendRequest(DWORD code) {
    CScopedLock hold(&AccessLock);
    if (!ThreadHandle.load()) {
        return static_cast<DWORD>(E_FAIL);
    }
    RequestCode = code;
    RequestPosted = true;
    RequestEvent.Set();
    ReplyEvent.Wait(INFINITE);
    return ReplyValue;
}

DWORD CAMThread::WaitRequest() {
    RequestEvent.Wait(INFINITE);
    return RequestCode;
}

bool CAMThread::PeekRequest(DWORD* code) {
    if (!RequestPosted.load() || !RequestEvent.Wait(0)) {
        return false;
    }
    if (code) {
        *code = RequestCode;
    }
    return true;
}

void CAMThread::ReplyToRequest(DWORD value) {
    ReplyValue = value;
    RequestPosted = false;
    RequestEvent.Reset();
    ReplyEvent.Set();
}

void CAMThread::JoinThread() {
    const CUniqueHandle old(ThreadHandle.exchange(nullptr));
    if (old) {
        WaitForSingleObject(old.Get(), INFINITE);
    }
}

DWORD WINAPI CAMThread::ThreadEntry(void* self) {
    HRESULT com = InitThreadCom();
    DWORD exitCode = static_cast<CAMThread*>(self)->WorkerLoop();
    if (SUCCEEDED(com)) {
        CoUninitialize();
    }
    return exitCode;
}
