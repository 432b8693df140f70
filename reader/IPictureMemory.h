// Where a picture pool's buffers come from when not from the heap: the
// 64-bit module's helper gives them out of a section shared with the module,
// which then copies a picture from there straight into a downstream sample.
//
// Called on whichever thread the pool is called on (see FramePool.h); an
// implementation guards its own state. It outlives every pool that uses it.
#pragma once

#include <cstdint>

class IPictureMemory {
public:
    // An uninitialised buffer of bytes; null when none can be had.
    virtual uint8_t* Allocate(int32_t bytes) = 0;
    // Takes back a buffer that Allocate gave.
    virtual void Free(uint8_t* buffer) = 0;

protected:
    ~IPictureMemory() = default;
};
