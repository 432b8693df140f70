#include "ProcessUsage.h"

#include <psapi.h>
#include <tlhelp32.h>

#include <sstream>

namespace {

DWORD CountThreads() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return 0;
    const DWORD self = GetCurrentProcessId();
    DWORD count = 0;
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID == self) ++count;
    }
    CloseHandle(snapshot);
    return count;
}

}  // namespace

ProcessUsage ProcessUsage::Now() {
    ProcessUsage usage;
    GetProcessHandleCount(GetCurrentProcess(), &usage.Handles);
    usage.Threads = CountThreads();
    PROCESS_MEMORY_COUNTERS_EX memory = {};
    memory.cb = sizeof(memory);
    if (GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory),
                             sizeof(memory))) {
        usage.PrivateBytes = memory.PrivateUsage;
    }
    return usage;
}

std::string ProcessUsage::Describe() const {
    std::ostringstream text;
    text << Handles << " handles, " << Threads << " threads, " << PrivateBytes / 1024 << " KiB private";
    return text.str();
}
