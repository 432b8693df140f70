// Helpers shared by the reader's test executables: bounded waits that fail
// with a message instead of hanging.
#pragma once

#include <windows.h>

#include <functional>

// Runs body on a thread of its own; if it has not finished after limitMs the
// test process ends with a message, since a hung body cannot be abandoned safely.
void RunBounded(const std::function<void()>& body, DWORD limitMs, const char* what);

// Waits on event (re-checking after each wake-up) until done() holds, at most
// limitMs in all. False on time-out.
bool WaitUntil(HANDLE event, const std::function<bool()>& done, DWORD limitMs);
