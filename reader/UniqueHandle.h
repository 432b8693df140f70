// A kernel handle owned for the life of the object (closed on reset and
// destruction); null stands for none.
#pragma once

#include <windows.h>

#include <memory>

struct HandleCloser {
    void operator()(HANDLE handle) const {
        if (handle) CloseHandle(handle);
    }
};
using UniqueHandle = std::unique_ptr<void, HandleCloser>;

// An unnamed event, not signalled; null when it cannot be made.
inline HANDLE NewEvent(bool manualReset) { return CreateEventW(nullptr, manualReset, FALSE, nullptr); }
