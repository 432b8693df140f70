#include "ReaderTestSupport.h"

#include <cstdio>

namespace {
DWORD WINAPI RunBody(void* body) {
    (*static_cast<const std::function<void()>*>(body))();
    return 0;
}
}  // namespace

void RunBounded(const std::function<void()>& body, DWORD limitMs, const char* what) {
    HANDLE thread = CreateThread(nullptr, 0, &RunBody, const_cast<std::function<void()>*>(&body), 0,
                                 nullptr);
    if (!thread) {
        body();
        return;
    }
    if (WaitForSingleObject(thread, limitMs) != WAIT_OBJECT_0) {
        std::fprintf(stderr, "FATAL: %s did not finish within %lu ms\n", what,
                     static_cast<unsigned long>(limitMs));
        std::fflush(stderr);
        TerminateProcess(GetCurrentProcess(), 3);
    }
    CloseHandle(thread);
}

bool WaitUntil(HANDLE event, const std::function<bool()>& done, DWORD limitMs) {
    const ULONGLONG deadline = GetTickCount64() + limitMs;
    while (!done()) {
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) return false;
        WaitForSingleObject(event, static_cast<DWORD>(deadline - now));
    }
    return true;
}
