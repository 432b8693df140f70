// The helper's picture memory: pool buffers handed out of picture sections
// that the module maps as well, so that it copies a picture straight from the
// pool into a downstream sample. All buffers of one section have one size; a
// buffer of another size (a new picture size) starts a new section, and a
// section that has lost its last buffer after being replaced is closed. A
// section only reserves its slots; a slot is committed when first handed
// out, so the memory charged follows what the pool uses (its budget), not
// the span reserved for it.
//
// Owns the sections (handles and views). Allocate and Free come from the
// pool's threads (the library's decoding thread, the lanes' threads);
// Locate from a lane's thread inside a picture read. SectionLock guards every
// field; it is taken after the reader's locks (it is reached from inside the
// pool) and nothing is called with it held.
#pragma once

#include "framework/CritLock.h"
#include "framework/UniqueHandle.h"
#include "reader/IPictureMemory.h"

#include <windows.h>

#include <cstdint>
#include <vector>

class CSectionPictureMemory : public IPictureMemory {
public:
    CSectionPictureMemory() = default;
    ~CSectionPictureMemory();
    CSectionPictureMemory(const CSectionPictureMemory&) = delete;
    CSectionPictureMemory& operator=(const CSectionPictureMemory&) = delete;

    uint8_t* Allocate(int32_t bytes) override;
    void Free(uint8_t* buffer) override;

    // Where a buffer given out lies: the section's handle, size, generation
    // and the buffer's offset in it. False for memory not given out here.
    bool Locate(const uint8_t* buffer, HANDLE* section, uint64_t* sectionBytes, uint32_t* generation,
                uint64_t* offset);

    // Buffers one section holds at most: a little above what the reader's
    // queue holds at its high-water mark, within a bound of address space
    // (the helper is a 32-bit process).
    static int32_t SlotsFor(int32_t bytes);

private:
    struct Section {
        CUniqueHandle Mapping;
        uint8_t* View = nullptr;
        uint64_t Bytes = 0;
        int32_t SlotBytes = 0;
        uint32_t Generation = 0;
        std::vector<int32_t> FreeSlots;  // stack
        std::vector<bool> Committed;     // per slot
        int32_t Used = 0;
        bool Retired = false;
    };

    Section* Owner(const uint8_t* buffer);
    bool StartSection(int32_t bytes);
    static void Close(Section* section);

    CCritLock SectionLock;
    std::vector<Section> Sections;  // guarded by SectionLock; the last one is current unless retired
    uint32_t NextGeneration = 1;    // guarded by SectionLock
};
