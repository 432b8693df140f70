// Counts the heap allocations that chosen modules make. Each watched module
// links its C runtime statically but takes memory from msvcrt.dll's malloc
// family, from the process heap functions and from the COM task allocator
// through its import table; those entries are redirected to counting
// wrappers that pass every call on unchanged. A call counts for the module
// whose code made it (by return address), so the platform's own allocations
// in the same process are not mixed in.
//
// Threads: Watch on one thread before the watched code runs; the wrappers
// from any thread; counts are atomics. The redirection is never undone, so
// it is meant for a process of its own (the bench's memory child).
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

class CAllocationCounter {
public:
    // Redirects the module's imports; its slot 0 or 1 in the counts. False
    // when nothing could be redirected.
    static bool Watch(HMODULE module, int slot);
    // Allocations made so far by the module in the slot.
    static uint64_t Count(int slot);
    // Of those, the ones of LargeBytes or more (picture buffers, not records).
    static uint64_t LargeCount(int slot);
    static constexpr int Slots = 2;
    static constexpr size_t LargeBytes = 64 * 1024;
};
