#include "reader/FramePool.h"

#include <mutex>
#include <new>

CFramePool::CFramePool(int32_t bufferSize, IPictureMemory* memory) : Memory(memory), Size(bufferSize) {
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
    return NewBuffer();
}

uint8_t* CFramePool::NewBuffer() {
    return Memory ? Memory->Allocate(Size) : new (std::nothrow) uint8_t[Size];
}

void CFramePool::DeleteBuffer(uint8_t* buffer) {
    if (Memory) {
        Memory->Free(buffer);
    } else {
        delete[] buffer;
    }
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
    DeleteBuffer(buffer);
}

void CFramePool::FreeAll() {
    std::lock_guard<CCriticalSection> hold(PoolLock);
    while (!FreeStore.empty()) {
        DeleteBuffer(FreeStore.back());
        FreeStore.pop_back();
    }
}

int32_t CFramePool::KeptCount() {
    std::lock_guard<CCriticalSection> hold(PoolLock);
    return static_cast<int32_t>(FreeStore.size());
}
