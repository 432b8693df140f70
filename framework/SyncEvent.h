// A Win32 event, owned for the object's life. Any thread.
#pragma once

#include "framework/UniqueHandle.h"

#include <windows.h>

class CSyncEvent {
public:
    explicit CSyncEvent(bool manualReset);

    CSyncEvent(const CSyncEvent&) = delete;
    CSyncEvent& operator=(const CSyncEvent&) = delete;

    void Set();
    void Reset();
    // True when the event was signalled within the time-out.
    bool Wait(DWORD timeoutMs);
    // Null when the event could not be created.
    HANDLE Handle() const { return EventHandle.Get(); }

private:
    CUniqueHandle EventHandle;
};
