// The window class of every notice window in the process ("KXMSGCLASS"),
// shared: registered by the first window that needs it and unregistered by
// the last one to end. A class someone else registered is used and left
// registered. Any thread; the count is guarded by a process-wide lock.
#pragma once

class CNoticeWindowClass {
public:
    static const char* Name();
    // False when the class can neither be registered nor found registered.
    static bool Acquire();
    // Once for each successful Acquire.
    static void Release();
};
