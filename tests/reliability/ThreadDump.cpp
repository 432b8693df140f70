#include "ThreadDump.h"

#include "ProcessUsage.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr size_t MaxAddresses = 40;
constexpr size_t ScanBytes = 64 * 1024;

#ifdef _WIN64
uintptr_t InstructionOf(const CONTEXT& context) { return context.Rip; }
uintptr_t StackOf(const CONTEXT& context) { return context.Rsp; }
#else
uintptr_t InstructionOf(const CONTEXT& context) { return context.Eip; }
uintptr_t StackOf(const CONTEXT& context) { return context.Esp; }
#endif

struct ThreadCode {
    DWORD Id = 0;
    uintptr_t Addresses[MaxAddresses] = {};
    size_t Count = 0;
};

bool IsCode(uintptr_t address) {
    MEMORY_BASIC_INFORMATION info = {};
    if (!VirtualQuery(reinterpret_cast<void*>(address), &info, sizeof(info))) return false;
    const DWORD executable = PAGE_EXECUTE | PAGE_EXECUTE_READ | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
    return info.State == MEM_COMMIT && info.Type == MEM_IMAGE && (info.Protect & executable) != 0;
}

// Reads the suspended thread's stack without allocating: the thread may hold
// the heap's lock.
void Scan(HANDLE thread, ThreadCode* code) {
    CONTEXT context = {};
    context.ContextFlags = CONTEXT_CONTROL;
    if (!GetThreadContext(thread, &context)) return;
    code->Addresses[code->Count++] = InstructionOf(context);
    const uintptr_t stack = StackOf(context);
    MEMORY_BASIC_INFORMATION info = {};
    if (!VirtualQuery(reinterpret_cast<void*>(stack), &info, sizeof(info))) return;
    const uintptr_t top = reinterpret_cast<uintptr_t>(info.BaseAddress) + info.RegionSize;
    const uintptr_t end = stack + ScanBytes < top ? stack + ScanBytes : top;
    constexpr uintptr_t Slot = sizeof(uintptr_t);
    for (uintptr_t at = stack & ~(Slot - 1); at + Slot <= end && code->Count < MaxAddresses; at += Slot) {
        const uintptr_t value = *reinterpret_cast<const uintptr_t*>(at);
        if (IsCode(value)) code->Addresses[code->Count++] = value;
    }
}

std::string Describe(uintptr_t address) {
    HMODULE module = nullptr;
    char name[MAX_PATH] = "?";
    if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           reinterpret_cast<const char*>(address), &module)) {
        char path[MAX_PATH] = {};
        if (GetModuleFileNameA(module, path, MAX_PATH)) {
            const char* slash = strrchr(path, '\\');
            snprintf(name, sizeof(name), "%s", slash ? slash + 1 : path);
        }
    }
    char text[MAX_PATH + 32];
    snprintf(text, sizeof(text), "%s+0x%llx", name,
             static_cast<unsigned long long>(address - reinterpret_cast<uintptr_t>(module)));
    return text;
}

}  // namespace

std::string DumpThreads() {
    std::vector<DWORD> ids = ProcessThreadIds();
    ids.erase(std::remove(ids.begin(), ids.end(), GetCurrentThreadId()), ids.end());
    std::vector<ThreadCode> threads(ids.size());
    for (size_t i = 0; i < ids.size(); ++i) {
        threads[i].Id = ids[i];
        HANDLE thread = OpenThread(THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT, FALSE, ids[i]);
        if (!thread) continue;
        if (SuspendThread(thread) != static_cast<DWORD>(-1)) {
            Scan(thread, &threads[i]);
            ResumeThread(thread);
        }
        CloseHandle(thread);
    }
    std::string dump;
    for (const ThreadCode& thread : threads) {
        char heading[32];
        snprintf(heading, sizeof(heading), "thread %04lx:", static_cast<unsigned long>(thread.Id));
        dump += heading;
        for (size_t i = 0; i < thread.Count; ++i) dump += " " + Describe(thread.Addresses[i]);
        dump += "\n";
    }
    return dump;
}
