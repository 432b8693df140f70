// Registration data of one filter for the platform's filter mapper. Constant
// data; no lock.
#pragma once

#include <windows.h>
#include <strmif.h>

struct FilterSetupRecord {
    const CLSID* ClassId;
    const wchar_t* Name;
    DWORD Merit;
    ULONG PinCount;
    const REGFILTERPINS* Pins;
};
