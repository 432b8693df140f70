// A REG_DWORD value set for the lifetime of the object: written when it is
// made, and on destruction put back as it was (the earlier data restored, or
// the value removed when there was none), so that a bench run with a chosen
// setting leaves the settings as it found them. Holds no key open between
// the two; used on one thread.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

class CRegistryDwordScope {
public:
    CRegistryDwordScope(HKEY root, const std::wstring& key, const std::wstring& name, DWORD value);
    ~CRegistryDwordScope();
    CRegistryDwordScope(const CRegistryDwordScope&) = delete;
    CRegistryDwordScope& operator=(const CRegistryDwordScope&) = delete;

    // Whether the value was written.
    bool Written() const { return Set; }

private:
    HKEY Root;
    std::wstring Key;
    std::wstring Name;
    bool Set = false;
    bool HadEarlier = false;
    DWORD EarlierType = 0;
    std::vector<BYTE> EarlierData;
};
