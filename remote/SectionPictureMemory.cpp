#include "remote/SectionPictureMemory.h"

#include "framework/ScopedLock.h"

#include <algorithm>

namespace {

constexpr int32_t MostSlots = 64;
constexpr int32_t FewestSlots = 4;
constexpr uint64_t MostSectionBytes = 512ull * 1024 * 1024;

}  // namespace

CSectionPictureMemory::~CSectionPictureMemory() {
    for (Section& section : Sections) Close(&section);
}

int32_t CSectionPictureMemory::SlotsFor(int32_t bytes) {
    if (bytes <= 0) return 0;
    const uint64_t fit = MostSectionBytes / static_cast<uint64_t>(bytes);
    return static_cast<int32_t>(std::max<uint64_t>(FewestSlots, std::min<uint64_t>(MostSlots, fit)));
}

void CSectionPictureMemory::Close(Section* section) {
    if (section->View) UnmapViewOfFile(section->View);
    section->View = nullptr;
    section->Mapping.Reset();
}

bool CSectionPictureMemory::StartSection(int32_t bytes) {
    // Page-aligned slots: a picture's rows start where a copy runs fastest.
    const uint64_t slotBytes = (static_cast<uint64_t>(bytes) + 4095) & ~uint64_t{4095};
    int32_t slots = SlotsFor(bytes);
    Section fresh;
    // A 32-bit address space may not have room for the whole span: fewer
    // slots then, down to the least the flow control can live with.
    for (; slots >= FewestSlots && !fresh.View; slots /= 2) {
        const uint64_t total = slotBytes * static_cast<uint64_t>(slots);
        fresh.Mapping.Reset(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE | SEC_RESERVE,
                                               static_cast<DWORD>(total >> 32), static_cast<DWORD>(total), nullptr));
        if (!fresh.Mapping) continue;
        fresh.View = static_cast<uint8_t*>(MapViewOfFile(fresh.Mapping.Get(), FILE_MAP_ALL_ACCESS, 0, 0, 0));
        if (!fresh.View) {
            fresh.Mapping.Reset();
            continue;
        }
        fresh.Bytes = total;
        fresh.FreeSlots.reserve(static_cast<size_t>(slots));
        for (int32_t slot = slots - 1; slot >= 0; --slot) fresh.FreeSlots.push_back(slot);
        fresh.Committed.assign(static_cast<size_t>(slots), false);
    }
    if (!fresh.View) return false;
    fresh.SlotBytes = static_cast<int32_t>(slotBytes);
    fresh.Generation = NextGeneration++;
    if (!Sections.empty()) {
        Section& previous = Sections.back();
        previous.Retired = true;
        if (previous.Used == 0) {
            Close(&previous);
            Sections.pop_back();
        }
    }
    Sections.push_back(std::move(fresh));
    return true;
}

uint8_t* CSectionPictureMemory::Allocate(int32_t bytes) {
    CScopedLock hold(&SectionLock);
    const uint64_t slotBytes = (static_cast<uint64_t>(bytes) + 4095) & ~uint64_t{4095};
    if (bytes <= 0) return nullptr;
    if (Sections.empty() || Sections.back().Retired ||
        static_cast<uint64_t>(Sections.back().SlotBytes) != slotBytes) {
        if (!StartSection(bytes)) return nullptr;
    }
    Section& current = Sections.back();
    if (current.FreeSlots.empty()) return nullptr;
    const int32_t slot = current.FreeSlots.back();
    uint8_t* buffer = current.View + static_cast<uint64_t>(slot) * static_cast<uint64_t>(current.SlotBytes);
    if (!current.Committed[static_cast<size_t>(slot)]) {
        if (!VirtualAlloc(buffer, static_cast<SIZE_T>(current.SlotBytes), MEM_COMMIT, PAGE_READWRITE)) return nullptr;
        current.Committed[static_cast<size_t>(slot)] = true;
    }
    current.FreeSlots.pop_back();
    ++current.Used;
    return buffer;
}

CSectionPictureMemory::Section* CSectionPictureMemory::Owner(const uint8_t* buffer) {
    for (Section& section : Sections) {
        if (section.View && buffer >= section.View && buffer < section.View + section.Bytes) return &section;
    }
    return nullptr;
}

void CSectionPictureMemory::Free(uint8_t* buffer) {
    CScopedLock hold(&SectionLock);
    Section* section = Owner(buffer);
    if (!section) return;
    section->FreeSlots.push_back(static_cast<int32_t>((buffer - section->View) / section->SlotBytes));
    --section->Used;
    if (section->Retired && section->Used == 0) {
        Close(section);
        Sections.erase(Sections.begin() + (section - Sections.data()));
    }
}

bool CSectionPictureMemory::Locate(const uint8_t* buffer, HANDLE* mapping, uint64_t* sectionBytes,
                                   uint32_t* generation, uint64_t* offset) {
    CScopedLock hold(&SectionLock);
    const Section* section = Owner(buffer);
    if (!section) return false;
    *mapping = section->Mapping.Get();
    *sectionBytes = section->Bytes;
    *generation = section->Generation;
    *offset = static_cast<uint64_t>(buffer - section->View);
    return true;
}
