#include "framework/UniqueHandle.h"

CUniqueHandle::~CUniqueHandle() { Reset(); }

CUniqueHandle::CUniqueHandle(CUniqueHandle&& other) noexcept : Owned(other.Owned) { other.Owned = nullptr; }

CUniqueHandle& CUniqueHandle::operator=(CUniqueHandle&& other) noexcept {
    if (this != &other) {
        Reset(other.Owned);
        other.Owned = nullptr;
    }
    return *this;
}

void CUniqueHandle::Reset(HANDLE handle) {
    const HANDLE old = Owned;
    Owned = handle;
    if (old && old != handle) CloseHandle(old);
}
