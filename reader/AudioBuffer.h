// A 64000-byte ring (four seconds of 8 kHz 16-bit mono sound) between the
// library's decoding thread, which writes whatever each callback delivers,
// and the audio worker, which reads one whole sample buffer at a time.
// Writes and reads are all or nothing; one byte always stays free so a full
// ring never reads as empty.
//
// Threads: Allocate and Write on the decoding thread; Read on the audio
// worker; Clear on the flushing thread. Write and Read serialise on the
// atomic Busy flag (polled every 1 ms), so no kernel lock is held while bytes
// are copied. RingLock is held by Clear and destruction, which also wait for
// Busy. The positions are atomic so that Available can be read from any
// thread; they are changed only while Busy is held.
//
// Owns RingData from Allocate to destruction.
#pragma once

#include "framework/CritLock.h"

#include <atomic>
#include <cstdint>
#include <memory>

class CAudioBuffer {
public:
    CAudioBuffer() = default;
    virtual ~CAudioBuffer();
    CAudioBuffer(const CAudioBuffer&) = delete;
    CAudioBuffer& operator=(const CAudioBuffer&) = delete;

    // Gives the ring its zeroed storage (replacing any); false when memory is exhausted.
    bool Allocate();
    // Copies all length bytes in and returns length, or copies nothing and
    // returns 0 (no storage, null source, or not enough room).
    uint32_t Write(const void* source, uint32_t length);
    // With a null destination: stores the buffered count in length, true.
    // Otherwise copies exactly length bytes out and returns true, or copies
    // nothing, stores 0 in length and returns false. False without storage.
    bool Read(void* destination, uint32_t* length);
    // Zeroes the storage and empties the ring; always true.
    bool Clear();

    // Buffered bytes (0 without storage).
    uint32_t Available() const;
    bool HasStorage() const { return Capacity.load() != 0; }
    int32_t CapacityBytes() const { return Capacity.load(); }
    // Byte at index of the storage, for checking what Clear leaves behind.
    uint8_t StorageByte(int32_t index) const { return RingData[index]; }

    static constexpr int32_t RingBytes = 64000;

private:
    void TakeBusy();
    void DropBusy() { Busy.clear(std::memory_order_release); }
    uint32_t AvailableNow() const;

    std::unique_ptr<uint8_t[]> RingData;
    std::atomic<int32_t> WritePos{0};
    std::atomic<int32_t> ReadPos{0};
    std::atomic<int32_t> Capacity{0};
    std::atomic_flag Busy = ATOMIC_FLAG_INIT;
    CCritLock RingLock;
};
