// The bench's measurements that need a process of their own run kxbench
// again with a child's arguments. Free function; each call waits (bounded)
// for its child and ends it when it overruns.
#pragma once

#include <windows.h>

#include <string>

enum class ChildEnd { NotStarted, Ended, Killed };

// Runs "kxbench.exe ARGUMENTS" beside this executable and waits at most
// timeoutMs for it to end; a child still running then is terminated. The
// exit code of a child that ended goes to *exitCode (if not null).
ChildEnd RunBenchChild(const std::wstring& arguments, DWORD timeoutMs, DWORD* exitCode = nullptr);
