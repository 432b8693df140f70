#include "NoticeListener.h"

namespace {

constexpr wchar_t WindowClass[] = L"KXPlayLibTestWindow";

}  // namespace

CNoticeListener::CNoticeListener() {
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = WindowClass;
    RegisterClassW(&wc);
    Window = CreateWindowExW(0, WindowClass, L"", 0, 0, 0, 0, 0, nullptr, nullptr, wc.hInstance, nullptr);
}

CNoticeListener::~CNoticeListener() {
    if (Window != nullptr) DestroyWindow(Window);
}

CNoticeListener::WaitResult CNoticeListener::Wait(UINT msg, DWORD timeoutMs, HANDLE event) {
    const DWORD start = GetTickCount();
    for (;;) {
        MSG m;
        while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
            if (m.hwnd == Window && m.message >= WM_USER) {
                ++Unclaimed[m.message];
                ++Received[m.message];
            } else {
                DispatchMessageW(&m);
            }
        }
        if (Unclaimed[msg] > 0) {
            --Unclaimed[msg];
            return GotMessage;
        }
        if (event != nullptr && WaitForSingleObject(event, 0) == WAIT_OBJECT_0) return GotEvent;
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= timeoutMs) return TimedOut;
        // An auto-reset event is consumed by the wait that sees it.
        if (MsgWaitForMultipleObjects(event != nullptr ? 1 : 0, &event, FALSE, timeoutMs - elapsed, QS_ALLINPUT) ==
                WAIT_OBJECT_0 &&
            event != nullptr) {
            return GotEvent;
        }
    }
}

int CNoticeListener::Count(UINT msg) const {
    auto it = Received.find(msg);
    return it == Received.end() ? 0 : it->second;
}
