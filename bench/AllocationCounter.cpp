#include "bench/AllocationCounter.h"

#include <atomic>
#include <cstring>

namespace {

struct ModuleRange {
    std::atomic<uintptr_t> Begin{0};
    std::atomic<uintptr_t> End{0};
};

ModuleRange Ranges[CAllocationCounter::Slots];
std::atomic<uint64_t> Counts[CAllocationCounter::Slots];
std::atomic<uint64_t> LargeCounts[CAllocationCounter::Slots];

void Note(void* returnAddress, size_t bytes) {
    const uintptr_t at = reinterpret_cast<uintptr_t>(returnAddress);
    for (int slot = 0; slot < CAllocationCounter::Slots; ++slot) {
        if (at >= Ranges[slot].Begin.load() && at < Ranges[slot].End.load()) {
            ++Counts[slot];
            if (bytes >= CAllocationCounter::LargeBytes) ++LargeCounts[slot];
            return;
        }
    }
}

using MallocFn = void*(__cdecl*)(size_t);
using CallocFn = void*(__cdecl*)(size_t, size_t);
using ReallocFn = void*(__cdecl*)(void*, size_t);
using HeapAllocFn = LPVOID(WINAPI*)(HANDLE, DWORD, SIZE_T);
using HeapReAllocFn = LPVOID(WINAPI*)(HANDLE, DWORD, LPVOID, SIZE_T);
using TaskAllocFn = LPVOID(WINAPI*)(SIZE_T);
using TaskReallocFn = LPVOID(WINAPI*)(LPVOID, SIZE_T);
using LocalAllocFn = HLOCAL(WINAPI*)(UINT, SIZE_T);
using VirtualAllocFn = LPVOID(WINAPI*)(LPVOID, SIZE_T, DWORD, DWORD);

MallocFn RealMalloc;
CallocFn RealCalloc;
ReallocFn RealRealloc;
HeapAllocFn RealHeapAlloc;
HeapReAllocFn RealHeapReAlloc;
TaskAllocFn RealTaskAlloc;
TaskReallocFn RealTaskRealloc;
LocalAllocFn RealLocalAlloc;
LocalAllocFn RealGlobalAlloc;
VirtualAllocFn RealVirtualAlloc;

void* __cdecl CountedMalloc(size_t size) {
    Note(__builtin_return_address(0), size);
    return RealMalloc(size);
}
void* __cdecl CountedCalloc(size_t count, size_t size) {
    Note(__builtin_return_address(0), count * size);
    return RealCalloc(count, size);
}
void* __cdecl CountedRealloc(void* block, size_t size) {
    Note(__builtin_return_address(0), size);
    return RealRealloc(block, size);
}
LPVOID WINAPI CountedHeapAlloc(HANDLE heap, DWORD flags, SIZE_T size) {
    Note(__builtin_return_address(0), size);
    return RealHeapAlloc(heap, flags, size);
}
LPVOID WINAPI CountedHeapReAlloc(HANDLE heap, DWORD flags, LPVOID block, SIZE_T size) {
    Note(__builtin_return_address(0), size);
    return RealHeapReAlloc(heap, flags, block, size);
}
LPVOID WINAPI CountedTaskAlloc(SIZE_T size) {
    Note(__builtin_return_address(0), size);
    return RealTaskAlloc(size);
}
LPVOID WINAPI CountedTaskRealloc(LPVOID block, SIZE_T size) {
    Note(__builtin_return_address(0), size);
    return RealTaskRealloc(block, size);
}
HLOCAL WINAPI CountedLocalAlloc(UINT flags, SIZE_T size) {
    Note(__builtin_return_address(0), size);
    return RealLocalAlloc(flags, size);
}
HLOCAL WINAPI CountedGlobalAlloc(UINT flags, SIZE_T size) {
    Note(__builtin_return_address(0), size);
    return RealGlobalAlloc(flags, size);
}
LPVOID WINAPI CountedVirtualAlloc(LPVOID at, SIZE_T size, DWORD type, DWORD protect) {
    Note(__builtin_return_address(0), size);
    return RealVirtualAlloc(at, size, type, protect);
}

struct Redirect {
    const char* Dll;
    const char* Name;
    void** Real;
    void* Counted;
};

template <typename Fn>
void* Raw(Fn function) {
    return reinterpret_cast<void*>(function);
}

const Redirect Redirects[] = {
    {"msvcrt.dll", "malloc", reinterpret_cast<void**>(&RealMalloc), Raw(&CountedMalloc)},
    {"msvcrt.dll", "calloc", reinterpret_cast<void**>(&RealCalloc), Raw(&CountedCalloc)},
    {"msvcrt.dll", "realloc", reinterpret_cast<void**>(&RealRealloc), Raw(&CountedRealloc)},
    {"kernel32.dll", "HeapAlloc", reinterpret_cast<void**>(&RealHeapAlloc), Raw(&CountedHeapAlloc)},
    {"kernel32.dll", "HeapReAlloc", reinterpret_cast<void**>(&RealHeapReAlloc), Raw(&CountedHeapReAlloc)},
    {"kernel32.dll", "LocalAlloc", reinterpret_cast<void**>(&RealLocalAlloc), Raw(&CountedLocalAlloc)},
    {"kernel32.dll", "GlobalAlloc", reinterpret_cast<void**>(&RealGlobalAlloc), Raw(&CountedGlobalAlloc)},
    {"kernel32.dll", "VirtualAlloc", reinterpret_cast<void**>(&RealVirtualAlloc), Raw(&CountedVirtualAlloc)},
    {"ole32.dll", "CoTaskMemAlloc", reinterpret_cast<void**>(&RealTaskAlloc), Raw(&CountedTaskAlloc)},
    {"ole32.dll", "CoTaskMemRealloc", reinterpret_cast<void**>(&RealTaskRealloc), Raw(&CountedTaskRealloc)},
};

const Redirect* FindRedirect(const char* name) {
    for (const Redirect& r : Redirects) {
        if (std::strcmp(r.Name, name) == 0) return &r;
    }
    return nullptr;
}

bool ResolveReals() {
    for (const Redirect& r : Redirects) {
        if (*r.Real) continue;
        HMODULE dll = LoadLibraryA(r.Dll);
        *r.Real = dll ? reinterpret_cast<void*>(GetProcAddress(dll, r.Name)) : nullptr;
        if (!*r.Real) return false;
    }
    return true;
}

bool Patch(void** slot, void* value) {
    DWORD old = 0;
    if (!VirtualProtect(slot, sizeof(void*), PAGE_READWRITE, &old)) return false;
    *slot = value;
    VirtualProtect(slot, sizeof(void*), old, &old);
    return true;
}

}  // namespace

bool CAllocationCounter::Watch(HMODULE module, int slot) {
    if (!module || slot < 0 || slot >= Slots || !ResolveReals()) return false;
    auto* base = reinterpret_cast<uint8_t*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    Ranges[slot].Begin = reinterpret_cast<uintptr_t>(base);
    Ranges[slot].End = reinterpret_cast<uintptr_t>(base) + nt->OptionalHeader.SizeOfImage;
    const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (directory.VirtualAddress == 0) return false;
    int patched = 0;
    for (auto* import = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress); import->Name != 0;
         ++import) {
        if (import->OriginalFirstThunk == 0) continue;
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + import->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + import->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            const auto* byName = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            const Redirect* redirect = FindRedirect(reinterpret_cast<const char*>(byName->Name));
            if (!redirect) continue;
            // A forwarded import may resolve elsewhere than the DLL named in
            // the table; the wrapper then calls what the slot held.
            void** target = reinterpret_cast<void**>(&slots->u1.Function);
            if (*target == redirect->Counted) continue;
            if (*target != *redirect->Real) *redirect->Real = *target;
            if (Patch(target, redirect->Counted)) ++patched;
        }
    }
    return patched > 0;
}

uint64_t CAllocationCounter::Count(int slot) {
    return (slot >= 0 && slot < Slots) ? Counts[slot].load() : 0;
}

uint64_t CAllocationCounter::LargeCount(int slot) {
    return (slot >= 0 && slot < Slots) ? LargeCounts[slot].load() : 0;
}
