#include "reader/NoticeWindow.h"

#include "common/KXPlayApi.h"
#include "reader/NoticeWindowClass.h"

namespace {

constexpr UINT QuitMessage = WM_USER + 101;     // 1125, posted by End
constexpr UINT SegmentMessage = WM_USER + 102;  // 1126, posted by BeginSegment
// The thread only waits for and reads posted messages; a small reservation
// keeps many open files from taking address space for stacks.
constexpr SIZE_T MessageThreadStack = 64 * 1024;

}  // namespace

CNoticeWindow::CNoticeWindow(INotices* notices) : Notices(notices) {}

CNoticeWindow::~CNoticeWindow() { End(); }

void CNoticeWindow::Start() {
    if (MessageThreadHandle) return;
    DWORD id = 0;
    MessageThreadHandle.Reset(CreateThread(nullptr, MessageThreadStack, &CNoticeWindow::MessageThread, this,
                                           STACK_SIZE_PARAM_IS_A_RESERVATION, &id));
    if (MessageThreadHandle) MessageThreadId = id;
}

HWND CNoticeWindow::Window(DWORD waitMs) {
    if (MessageThreadHandle && !MessageWindow.load()) {
        HANDLE started[2] = {ThreadReadyEvent.Handle(), MessageThreadHandle.Get()};
        WaitForMultipleObjects(2, started, FALSE, waitMs);
    }
    return MessageWindow.load();
}

void CNoticeWindow::End() {
    if (!MessageThreadHandle) return;
    // Without the ready event the post is repeated until it is accepted or
    // the thread has ended.
    HANDLE thread = MessageThreadHandle.Get();
    if (ThreadReadyEvent.Handle()) {
        HANDLE started[2] = {ThreadReadyEvent.Handle(), thread};
        WaitForMultipleObjects(2, started, FALSE, INFINITE);
    }
    while (!PostThreadMessageA(MessageThreadId, QuitMessage, 0, 0) &&
           WaitForSingleObject(thread, 10) == WAIT_TIMEOUT) {
    }
    WaitForSingleObject(thread, INFINITE);
    MessageThreadHandle.Reset();
    MessageThreadId = 0;
}

void CNoticeWindow::BeginSegment() {
    const uint32_t segment = ++NoticeSegment;
    // No queue to mark (yet): nothing the library posted can wait in it either.
    if (!MessageThreadId || !PostThreadMessageA(MessageThreadId, SegmentMessage, segment, 0)) ReachSegment(segment);
}

DWORD WINAPI CNoticeWindow::MessageThread(void* window) {
    static_cast<CNoticeWindow*>(window)->RunMessageLoop();
    return 0;
}

void CNoticeWindow::RunMessageLoop() {
    MSG msg;
    // Makes the thread's queue exist before anyone is told the thread is ready.
    PeekMessageA(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
    if (!CNoticeWindowClass::Acquire()) {
        ThreadReadyEvent.Set();
        return;
    }
    const HWND window = CreateWindowExA(0, CNoticeWindowClass::Name(), nullptr, 0, 0, 0, 0, 0, nullptr, nullptr,
                                        nullptr, nullptr);
    if (!window) {
        CNoticeWindowClass::Release();
        ThreadReadyEvent.Set();
        return;
    }
    MessageWindow = window;
    ThreadReadyEvent.Set();
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        if (msg.message == KX_MSG_FILE_END) {
            if (HandledSegment.load() == NoticeSegment.load()) Notices->OnFileEnd();
        } else if (msg.message == SegmentMessage) {
            ReachSegment(static_cast<uint32_t>(msg.wParam));
        } else if (msg.message == KX_MSG_FILE_INFO) {
            Notices->OnFileInfo();
        } else if (msg.message == QuitMessage) {
            break;
        }
    }
    MessageWindow = nullptr;
    DestroyWindow(window);
    CNoticeWindowClass::Release();
}

void CNoticeWindow::ReachSegment(uint32_t segment) {
    uint32_t reached = HandledSegment.load();
    while (static_cast<int32_t>(segment - reached) > 0 && !HandledSegment.compare_exchange_weak(reached, segment)) {
    }
}
