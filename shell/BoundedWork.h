// Runs a handler's work on a thread of its own and waits for it at most a
// bound, so that the shell's thread never hangs on a recording: the playback
// library may wait for seconds (or for ever) on a damaged file, and the
// 64-bit module's helper may take up to its own call bound to be declared
// dead.
//
// Work that outlives the bound runs on to its end, then frees what it
// captured; meanwhile it counts as a live object of the module and holds a
// reference on the module's file, so the module is neither reported
// unloadable nor unmapped under it.
//
// Any thread may call Run; each call has its own thread and shared state
// (a reference count changed by interlocked operations only).
#pragma once

#include <windows.h>

#include <functional>

class CBoundedWork {
public:
    // work's result when it ended within limitMs; otherwise
    // HRESULT_FROM_WIN32(ERROR_TIMEOUT), or the thread's start failure.
    static HRESULT Run(std::function<HRESULT()> work, DWORD limitMs);
};
