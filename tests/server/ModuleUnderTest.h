// The built module, loaded from the test's own folder, and its five exports.
// Used on the test's thread.
#pragma once

#include <unknwn.h>
#include <windows.h>

#include <string>

class CModuleUnderTest {
public:
    CModuleUnderTest();
    ~CModuleUnderTest();
    CModuleUnderTest(const CModuleUnderTest&) = delete;
    CModuleUnderTest& operator=(const CModuleUnderTest&) = delete;

    static std::wstring Path();

    HMODULE Module = nullptr;
    HRESULT(STDAPICALLTYPE* GetClassObject)(REFCLSID, REFIID, void**) = nullptr;
    HRESULT(STDAPICALLTYPE* CanUnloadNow)() = nullptr;
    HRESULT(STDAPICALLTYPE* RegisterServer)() = nullptr;
    HRESULT(STDAPICALLTYPE* UnregisterServer)() = nullptr;
    HRESULT(STDAPICALLTYPE* Install)(BOOL, LPCWSTR) = nullptr;
};
