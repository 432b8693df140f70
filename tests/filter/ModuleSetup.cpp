#include "ModuleSetup.h"

#include <windows.h>

std::wstring ModulePath() {
    wchar_t exe[MAX_PATH];
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring folder(exe);
    folder.resize(folder.find_last_of(L'\\') + 1);
    return folder + L"KXVDSrc.ax";
}

bool RegisterModule() {
    HMODULE module = LoadLibraryW(ModulePath().c_str());
    if (!module) return false;
    using Entry = HRESULT(STDAPICALLTYPE*)();
    Entry registerServer = reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(module, "DllRegisterServer")));
    const bool registered = registerServer && SUCCEEDED(registerServer());
    FreeLibrary(module);
    return registered;
}

bool ModuleIsLoaded() {
    return GetModuleHandleW(L"KXVDSrc.ax") != nullptr;
}
