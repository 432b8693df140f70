// Memory whose end touches a page that may not be read or written, so that a
// copy running one byte past the bytes it was given faults at once instead of
// passing unnoticed. Tail(n) gives n bytes that end exactly at that page.
// Owned by one test thread; freed on destruction.
#pragma once

#include <cstddef>
#include <cstdint>

class CGuardedBlock {
public:
    explicit CGuardedBlock(size_t capacity);
    ~CGuardedBlock();
    CGuardedBlock(const CGuardedBlock&) = delete;
    CGuardedBlock& operator=(const CGuardedBlock&) = delete;

    bool IsReady() const { return Base != nullptr; }
    size_t Capacity() const { return Usable; }
    // The last bytes of the block (at most Capacity()).
    uint8_t* Tail(size_t bytes) const { return Base + Usable - bytes; }

private:
    uint8_t* Base = nullptr;
    size_t Usable = 0;
};
