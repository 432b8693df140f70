#include "bench/AddressSpaceMeter.h"

#include <psapi.h>

#include <algorithm>

namespace {

struct Bounds {
    uintptr_t Low;
    uintptr_t High;  // the last usable address
};

Bounds UserBounds() {
    SYSTEM_INFO system{};
    GetSystemInfo(&system);
    return {reinterpret_cast<uintptr_t>(system.lpMinimumApplicationAddress),
            reinterpret_cast<uintptr_t>(system.lpMaximumApplicationAddress)};
}

}  // namespace

AddressSpaceUse CAddressSpaceMeter::Walk() {
    AddressSpaceUse use;
    const Bounds bounds = UserBounds();
    uintptr_t address = bounds.Low;
    MEMORY_BASIC_INFORMATION region{};
    while (address < bounds.High &&
           VirtualQuery(reinterpret_cast<const void*>(address), &region, sizeof(region)) == sizeof(region)) {
        const uint64_t size = region.RegionSize;
        if (size == 0) break;
        if (region.State == MEM_RESERVE && region.AllocationProtect == PAGE_NOACCESS) {
            use.NoAccessReserve += size;
        } else if (region.State != MEM_FREE) {
            use.InUse += size;
            if (region.State == MEM_COMMIT) use.Committed += size;
        }
        const uintptr_t next = reinterpret_cast<uintptr_t>(region.BaseAddress) + static_cast<uintptr_t>(size);
        if (next <= address) break;
        address = next;
    }
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    if (GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters))) use.WorkingSet = counters.WorkingSetSize;
    return use;
}

AddressSpaceUse CAddressSpaceMeter::Sample() {
    const AddressSpaceUse now = Walk();
    Highs.InUse = std::max(Highs.InUse, now.InUse);
    Highs.Committed = std::max(Highs.Committed, now.Committed);
    Highs.NoAccessReserve = std::max(Highs.NoAccessReserve, now.NoAccessReserve);
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    const uint64_t reportedPeak = GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters))
                                      ? counters.PeakWorkingSetSize
                                      : 0;
    Highs.WorkingSet = std::max({Highs.WorkingSet, now.WorkingSet, reportedPeak});
    return now;
}

uint64_t CAddressSpaceMeter::Limit() {
    const Bounds bounds = UserBounds();
    return static_cast<uint64_t>(bounds.High) + 1 - bounds.Low;
}

bool CAddressSpaceMeter::LargeAddressAware() {
    auto* base = reinterpret_cast<const uint8_t*>(GetModuleHandleW(nullptr));
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    return (nt->FileHeader.Characteristics & IMAGE_FILE_LARGE_ADDRESS_AWARE) != 0;
}
