#include "ProcessUsage.h"

#include <tlhelp32.h>

#include <sstream>
#include <vector>

namespace {

// The system's handle table, as NtQuerySystemInformation lists it; Wine
// answers GetProcessHandleCount with 0, but lists the handles here.
struct HandleEntry {
    ULONG OwnerProcess;
    BYTE ObjectType;
    BYTE Flags;
    USHORT Value;
    PVOID Object;
    ULONG Access;
};
struct HandleTable {
    ULONG Count;
    HandleEntry Entries[1];
};
using QuerySystem = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
constexpr ULONG SystemHandleInformation = 16;
constexpr LONG InfoLengthMismatch = static_cast<LONG>(0xC0000004);

DWORD CountHandles() {
    DWORD count = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &count) && count != 0) return count;
    auto query = reinterpret_cast<QuerySystem>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    if (!query) return 0;
    std::vector<BYTE> buffer(1 << 16);
    for (;;) {
        ULONG needed = 0;
        const LONG status = query(SystemHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
        if (status == InfoLengthMismatch && buffer.size() < (64u << 20)) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (status < 0) return 0;
        break;
    }
    const auto* table = reinterpret_cast<const HandleTable*>(buffer.data());
    const DWORD self = GetCurrentProcessId();
    for (ULONG i = 0; i < table->Count; ++i) {
        if (table->Entries[i].OwnerProcess == self) ++count;
    }
    return count;
}

// Committed private memory, region by region (the platform's counter is not
// kept by Wine).
SIZE_T PrivateCommitted() {
    SIZE_T total = 0;
    MEMORY_BASIC_INFORMATION region;
    const BYTE* address = nullptr;
    while (VirtualQuery(address, &region, sizeof(region)) == sizeof(region)) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) total += region.RegionSize;
        const BYTE* next = static_cast<const BYTE*>(region.BaseAddress) + region.RegionSize;
        if (next <= address) break;
        address = next;
    }
    return total;
}

}  // namespace

std::vector<DWORD> ProcessThreadIds() {
    std::vector<DWORD> ids;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return ids;
    const DWORD self = GetCurrentProcessId();
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID == self) ids.push_back(entry.th32ThreadID);
    }
    CloseHandle(snapshot);
    return ids;
}

ProcessUsage ProcessUsage::Now() {
    ProcessUsage usage;
    usage.Handles = CountHandles();
    usage.Threads = static_cast<DWORD>(ProcessThreadIds().size());
    usage.PrivateBytes = PrivateCommitted();
    return usage;
}

std::string ProcessUsage::Describe() const {
    std::ostringstream text;
    text << Handles << " handles, " << Threads << " threads, " << PrivateBytes / 1024 << " KiB private";
    return text.str();
}
