#include "framework/SyncEvent.h"

CSyncEvent::CSyncEvent(bool manualReset)
    : EventHandle(CreateEventA(nullptr, manualReset ? TRUE : FALSE, FALSE, nullptr)) {}

CSyncEvent::~CSyncEvent() {
    if (EventHandle) {
        CloseHandle(EventHandle);
    }
}

void CSyncEvent::Set() {
    SetEvent(EventHandle);
}

void CSyncEvent::Reset() {
    ResetEvent(EventHandle);
}

bool CSyncEvent::Wait(DWORD timeoutMs) {
    return WaitForSingleObject(EventHandle, timeoutMs) == WAIT_OBJECT_0;
}
