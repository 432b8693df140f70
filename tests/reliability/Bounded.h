// Runs calls that would hang if the module's thread protocol broke, each on a
// thread of its own (in the multithreaded apartment), and gives up waiting
// after a bound. On time-out the threads are left blocked (the test has
// failed already; the process ends with the run); each owns its own copy of
// the call. Used on the test's thread.
#pragma once

#include <windows.h>

#include <functional>
#include <vector>

// True when call returned within timeoutMs.
bool RunBounded(const std::function<void()>& call, DWORD timeoutMs);
// Starts every call at once; true when all returned within timeoutMs.
bool RunTogether(const std::vector<std::function<void()>>& calls, DWORD timeoutMs);
