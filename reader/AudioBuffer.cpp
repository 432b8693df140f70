#include "reader/AudioBuffer.h"

#include "framework/ScopedLock.h"

#include <cstring>
#include <new>

CAudioBuffer::~CAudioBuffer() {
    CScopedLock hold(&RingLock);
    RingData.reset();
    WritePos = 0;
    ReadPos = 0;
    Capacity = 0;
}

bool CAudioBuffer::Allocate() {
    RingData.reset();
    Capacity = 0;
    WritePos = 0;
    ReadPos = 0;
    RingData.reset(new (std::nothrow) uint8_t[RingBytes]);
    if (!RingData) return false;
    std::memset(RingData.get(), 0, RingBytes);
    Capacity = RingBytes;
    return true;
}

void CAudioBuffer::TakeBusy() {
    while (Busy.test_and_set(std::memory_order_acquire)) Sleep(1);
}

uint32_t CAudioBuffer::AvailableNow() const {
    const int32_t capacity = Capacity.load();
    if (capacity == 0) return 0;
    return static_cast<uint32_t>((capacity - ReadPos.load() + WritePos.load()) % capacity);
}

uint32_t CAudioBuffer::Available() const { return AvailableNow(); }

uint32_t CAudioBuffer::Write(const void* source, uint32_t length) {
    if (!RingData) return 0;
    TakeBusy();
    const int32_t capacity = Capacity.load();
    const uint32_t freeBytes = static_cast<uint32_t>(capacity) - AvailableNow();
    if (!source || length > freeBytes - 1) {
        DropBusy();
        return 0;
    }
    const uint8_t* from = static_cast<const uint8_t*>(source);
    const int32_t write = WritePos.load();
    const uint32_t tail = static_cast<uint32_t>(capacity - write);
    if (length <= tail) {
        std::memcpy(RingData.get() + write, from, length);
    } else {
        std::memcpy(RingData.get() + write, from, tail);
        std::memcpy(RingData.get(), from + tail, length - tail);
    }
    WritePos = static_cast<int32_t>((write + length) % static_cast<uint32_t>(capacity));
    DropBusy();
    return length;
}

bool CAudioBuffer::Read(void* destination, uint32_t* length) {
    if (!RingData || !length) return false;
    TakeBusy();
    const uint32_t available = AvailableNow();
    if (!destination) {
        *length = available;
        DropBusy();
        return true;
    }
    const uint32_t request = *length;
    if (request > available) {
        *length = 0;
        DropBusy();
        return false;
    }
    const int32_t capacity = Capacity.load();
    const int32_t read = ReadPos.load();
    uint8_t* to = static_cast<uint8_t*>(destination);
    const uint32_t tail = static_cast<uint32_t>(capacity - read);
    if (request <= tail) {
        std::memcpy(to, RingData.get() + read, request);
    } else {
        std::memcpy(to, RingData.get() + read, tail);
        std::memcpy(to + tail, RingData.get(), request - tail);
    }
    ReadPos = static_cast<int32_t>((read + request) % static_cast<uint32_t>(capacity));
    DropBusy();
    return true;
}

bool CAudioBuffer::Clear() {
    TakeBusy();
    {
        CScopedLock hold(&RingLock);
        if (RingData) std::memset(RingData.get(), 0, static_cast<size_t>(Capacity.load()));
        WritePos = 0;
        ReadPos = 0;
    }
    DropBusy();
    return true;
}
