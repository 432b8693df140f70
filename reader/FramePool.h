// Keeps emptied picture buffers of one fixed size for reuse, so a steady flow
// of pictures allocates nothing. Buffers are handed out last in, first out
// (the most recently used one comes back first) and at most keptLimit (at
// most MaxKept) are kept, so the pool's memory follows the file's budget.
//
// Threads: AcquireBuffer on the library's decoding thread (without the file's
// QueueLock); ReleaseBuffer with the file's QueueLock held (video worker,
// flushing thread); FreeAll from the owner. PoolLock guards FreeStore and is
// always taken after QueueLock, never before it.
//
// Owns every buffer in FreeStore; a buffer handed out belongs to the caller
// until it is given back with ReleaseBuffer. Buffers come from the heap, or
// from Memory when one is given (it must outlive the pool).
#pragma once

#include "framework/CritLock.h"
#include "reader/IPictureMemory.h"

#include <cstdint>
#include <vector>

class CFramePool {
public:
    CFramePool(int32_t bufferSize, int32_t keptLimit, IPictureMemory* memory = nullptr);
    ~CFramePool();
    CFramePool(const CFramePool&) = delete;
    CFramePool& operator=(const CFramePool&) = delete;

    // The last buffer given back, or a new uninitialised one when none is
    // kept. Null only when memory is exhausted.
    uint8_t* AcquireBuffer();
    // Keeps the buffer for reuse, or frees it when the limit is kept already.
    void ReleaseBuffer(uint8_t* buffer);
    // Frees every kept buffer.
    void FreeAll();

    int32_t BufferSize() const { return Size; }
    int32_t KeptCount();
    // 0 when the pool could not reserve its store: it must not be used.
    int32_t KeptLimit() const { return Limit; }

    static constexpr int32_t MaxKept = 53;

    // Fault injection for tests, process-wide: from now on only the given
    // number of new buffers can be had (a negative count lifts the limit).
    static void LimitNewBuffers(int32_t count);

private:
    uint8_t* NewBuffer();
    void DeleteBuffer(uint8_t* buffer);

    IPictureMemory* const Memory;
    std::vector<uint8_t*> FreeStore;  // guarded by PoolLock; used as a stack at its back
    const int32_t Size;
    int32_t Limit;  // fixed after construction
    CCritLock PoolLock;
};
