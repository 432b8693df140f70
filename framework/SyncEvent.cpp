#include "framework/SyncEvent.h"

CSyncEvent::CSyncEvent(bool manualReset)
    : EventHandle(CreateEventA(nullptr, manualReset ? TRUE : FALSE, FALSE, nullptr)) {}

void CSyncEvent::Set() {
    SetEvent(EventHandle.Get());
}

void CSyncEvent::Reset() {
    ResetEvent(EventHandle.Get());
}

bool CSyncEvent::Wait(DWORD timeoutMs) {
    return WaitForSingleObject(EventHandle.Get(), timeoutMs) == WAIT_OBJECT_0;
}
