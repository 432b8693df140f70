// The playback library's notices for one file object: a message thread
// (MessageThread, from the first Start to End) with a hidden window of the
// shared class (CNoticeWindowClass) that the library posts to, 1124 for the
// end of the file and 1178 for the file information.
//
// Notice segments: an end notice posted before a seek or a reopening belongs
// to the old position or file. BeginSegment raises NoticeSegment and posts a
// marker behind whatever the library had posted; the thread honours 1124
// only once it has reached the newest marker (HandledSegment).
//
// Threads: the owner's thread calls Start, Window and End; the seeking and
// the filter's thread call BeginSegment; the message thread calls the
// notice handlers (INotices) and writes MessageWindow and HandledSegment.
// ThreadReadyEvent (manual reset) is set once the thread's queue exists,
// window or not, so a quit message posted after it is never lost. The
// fields shared between threads are atomic; the thread handle and id are
// written by Start before any other thread uses them.
#pragma once

#include "framework/SyncEvent.h"
#include "framework/UniqueHandle.h"

#include <windows.h>

#include <atomic>
#include <cstdint>

class CNoticeWindow {
public:
    // Called on the message thread.
    class INotices {
    public:
        virtual void OnFileEnd() = 0;
        virtual void OnFileInfo() = 0;

    protected:
        ~INotices() = default;
    };

    explicit CNoticeWindow(INotices* notices);
    ~CNoticeWindow();
    CNoticeWindow(const CNoticeWindow&) = delete;
    CNoticeWindow& operator=(const CNoticeWindow&) = delete;

    // Starts the message thread unless it runs; it lives until End.
    void Start();
    // The window, after waiting at most waitMs for the thread to make it;
    // null when it cannot be made.
    HWND Window(DWORD waitMs);
    // Ends the thread and waits for it; the notices are called no more.
    void End();
    // See "Notice segments" above.
    void BeginSegment();

private:
    static DWORD WINAPI MessageThread(void* window);
    void RunMessageLoop();
    void ReachSegment(uint32_t segment);

    INotices* const Notices;
    CSyncEvent ThreadReadyEvent{true};
    CUniqueHandle MessageThreadHandle;
    DWORD MessageThreadId = 0;
    std::atomic<HWND> MessageWindow{nullptr};
    std::atomic<uint32_t> NoticeSegment{0};
    std::atomic<uint32_t> HandledSegment{0};
};
