// What the process holds of the system: open handles, live threads and
// private memory, measured before and after a load so that leaks show as
// growth. Any thread.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// The ids of the process's live threads.
std::vector<DWORD> ProcessThreadIds();

struct ProcessUsage {
    DWORD Handles = 0;
    DWORD Threads = 0;
    SIZE_T PrivateBytes = 0;

    static ProcessUsage Now();
    std::string Describe() const;
};
