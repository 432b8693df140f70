#include "reader/FramePool.h"

#include <mutex>
#include <new>

CFramePool::CFramePool(int32_t bufferSize) : Size(bufferSize) {
    // Reserved up front so that keeping a buffer never allocates.
    FreeStore.reserve(MaxKept);
}

CFramePool::~CFramePool() { FreeAll(); }

uint8_t* CFramePool::AcquireBuffer() {
    {
        std::lock_guard<CCriticalSection> hold(PoolLock);
        if (!FreeStore.empty()) {
            uint8_t* buffer = FreeStore.back();
            FreeStore.pop_back();
            return buffer;
        }
    }
    return new (std::nothrow) uint8_t[Size];
}

void CFramePool::ReleaseBuffer(uint8_t* buffer) {
    if (!buffer) return;
    {
        std::lock_guard<CCriticalSection> hold(PoolLock);
        if (static_cast<int32_t>(FreeStore.size()) < MaxKept) {
            FreeStore.push_back(buffer);
            return;
        }
    }
    delete[] buffer;
}

void CFramePool::FreeAll() {
    std::lock_guard<CCriticalSection> hold(PoolLock);
    while (!FreeStore.empty()) {
        delete[] FreeStore.back();
        FreeStore.pop_back();
    }
}

int32_t CFramePool::KeptCount() {
    std::lock_guard<CCriticalSection> hold(PoolLock);
    return static_cast<int32_t>(FreeStore.size());
}
