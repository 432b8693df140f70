#include "reader/FramePool.h"

#include "framework/ScopedLock.h"

#include <atomic>
#include <new>

namespace {

std::atomic<int32_t> NewBuffersLeft{-1};

}  // namespace

CFramePool::CFramePool(int32_t bufferSize, int32_t keptLimit, IPictureMemory* memory)
    : Memory(memory),
      Size(bufferSize), Limit(keptLimit < 1 ? 1 : (keptLimit > MaxKept ? MaxKept : keptLimit)) {
    // Reserved up front so that keeping a buffer never allocates. The pool
    // is made on the library's decoding thread, where nothing may throw.
    try {
        FreeStore.reserve(static_cast<size_t>(Limit));
    } catch (const std::bad_alloc&) {
        Limit = 0;
    }
}

void CFramePool::LimitNewBuffers(int32_t count) { NewBuffersLeft = count; }

CFramePool::~CFramePool() { FreeAll(); }

uint8_t* CFramePool::AcquireBuffer() {
    {
        CScopedLock hold(&PoolLock);
        if (!FreeStore.empty()) {
            uint8_t* buffer = FreeStore.back();
            FreeStore.pop_back();
            return buffer;
        }
    }
    int32_t left = NewBuffersLeft.load();
    while (left >= 0) {
        if (left == 0) return nullptr;
        if (NewBuffersLeft.compare_exchange_weak(left, left - 1)) break;
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
        CScopedLock hold(&PoolLock);
        if (static_cast<int32_t>(FreeStore.size()) < Limit) {
            FreeStore.push_back(buffer);
            return;
        }
    }
    DeleteBuffer(buffer);
}

void CFramePool::FreeAll() {
    CScopedLock hold(&PoolLock);
    while (!FreeStore.empty()) {
        DeleteBuffer(FreeStore.back());
        FreeStore.pop_back();
    }
}

int32_t CFramePool::KeptCount() {
    CScopedLock hold(&PoolLock);
    return static_cast<int32_t>(FreeStore.size());
}
