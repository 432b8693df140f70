#include "bench/ThreadCpuMeter.h"

#include <tlhelp32.h>

namespace {

using QueryThread = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
constexpr int ThreadStartAddressClass = 9;

uint64_t Hundreds(const FILETIME& time) {
    return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// Closes a handle on every path out of a scope.
class CHandleHolder {
public:
    explicit CHandleHolder(HANDLE handle) : Handle(handle) {}
    ~CHandleHolder() {
        if (Handle && Handle != INVALID_HANDLE_VALUE) CloseHandle(Handle);
    }
    CHandleHolder(const CHandleHolder&) = delete;
    CHandleHolder& operator=(const CHandleHolder&) = delete;
    HANDLE Get() const { return Handle; }

private:
    HANDLE Handle;
};

}  // namespace

void CThreadCpuMeter::AddModule(HMODULE module) {
    if (!module) return;
    auto* base = reinterpret_cast<uint8_t*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    Ranges.emplace_back(reinterpret_cast<uintptr_t>(base), reinterpret_cast<uintptr_t>(base) + nt->OptionalHeader.SizeOfImage);
}

bool CThreadCpuMeter::Owns(uintptr_t address) const {
    for (const auto& range : Ranges) {
        if (address >= range.first && address < range.second) return true;
    }
    return false;
}

std::map<DWORD, uint64_t> CThreadCpuMeter::Snapshot() const {
    std::map<DWORD, uint64_t> times;
    CHandleHolder snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    if (snapshot.Get() == INVALID_HANDLE_VALUE) return times;
    const DWORD self = GetCurrentProcessId();
    THREADENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Thread32First(snapshot.Get(), &entry); more; more = Thread32Next(snapshot.Get(), &entry)) {
        if (entry.th32OwnerProcessID != self) continue;
        CHandleHolder thread(OpenThread(THREAD_QUERY_INFORMATION, FALSE, entry.th32ThreadID));
        if (!thread.Get()) continue;
        const uintptr_t start = StartAddress(thread.Get());
        if (!start || !Owns(start)) continue;
        FILETIME created, exited, kernel, user;
        if (GetThreadTimes(thread.Get(), &created, &exited, &kernel, &user)) {
            times[entry.th32ThreadID] = Hundreds(kernel) + Hundreds(user);
        }
    }
    return times;
}

double CThreadCpuMeter::SecondsBetween(const std::map<DWORD, uint64_t>& before, const std::map<DWORD, uint64_t>& after) {
    uint64_t spent = 0;
    for (const auto& [thread, time] : after) {
        const auto earlier = before.find(thread);
        const uint64_t from = earlier == before.end() ? 0 : earlier->second;
        if (time > from) spent += time - from;
    }
    return static_cast<double>(spent) / 1e7;
}

uintptr_t CThreadCpuMeter::StartAddress(HANDLE thread) {
    static const auto query = reinterpret_cast<QueryThread>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationThread")));
    void* start = nullptr;
    if (!query || query(thread, ThreadStartAddressClass, &start, sizeof(start), nullptr) != 0) return 0;
    return reinterpret_cast<uintptr_t>(start);
}

double CThreadCpuMeter::ProcessSeconds() {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0;
    return static_cast<double>(Hundreds(kernel) + Hundreds(user)) / 1e7;
}
