// CPU time of the threads that chosen modules started in this process: the
// module's stream workers and message thread, the stand-in library's
// decoding thread. A thread belongs to a module when its start address lies
// in the module's image. Snapshots are taken while the threads live (they end
// when the graph stops), and the difference of two snapshots is the time
// spent in between; a thread that began in between counts in full.
//
// Used on the bench's thread only; holds no handles between calls.
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <vector>

class CThreadCpuMeter {
public:
    void AddModule(HMODULE module);
    // Thread id -> kernel + user time in 100-ns units, for the modules' threads.
    std::map<DWORD, uint64_t> Snapshot() const;
    // Seconds spent by the modules' threads between two snapshots.
    static double SecondsBetween(const std::map<DWORD, uint64_t>& before, const std::map<DWORD, uint64_t>& after);
    // Kernel + user seconds of the whole process so far.
    static double ProcessSeconds();
    // The address a thread began at, 0 when it cannot be told.
    static uintptr_t StartAddress(HANDLE thread);

private:
    bool Owns(uintptr_t address) const;
    std::vector<std::pair<uintptr_t, uintptr_t>> Ranges;
};
