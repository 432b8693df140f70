#include "Bounded.h"

#include <objbase.h>

#include <memory>

namespace {

struct BoundedCall {
    std::function<void()> Call;
};

DWORD WINAPI RunCall(void* parameter) {
    std::unique_ptr<BoundedCall> call(static_cast<BoundedCall*>(parameter));
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    call->Call();
    CoUninitialize();
    return 0;
}

struct HandleCloser {
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using ThreadHandle = std::unique_ptr<void, HandleCloser>;

}  // namespace

bool RunTogether(const std::vector<std::function<void()>>& calls, DWORD timeoutMs) {
    std::vector<ThreadHandle> threads;
    std::vector<HANDLE> waits;
    for (const auto& call : calls) {
        auto* owned = new BoundedCall{call};
        HANDLE thread = CreateThread(nullptr, 0, &RunCall, owned, 0, nullptr);
        if (!thread) {
            delete owned;
            return false;
        }
        threads.emplace_back(thread);
        waits.push_back(thread);
    }
    if (waits.empty()) return true;
    return WaitForMultipleObjects(static_cast<DWORD>(waits.size()), waits.data(), TRUE, timeoutMs) < WAIT_OBJECT_0 + waits.size();
}

bool RunBounded(const std::function<void()>& call, DWORD timeoutMs) { return RunTogether({call}, timeoutMs); }
