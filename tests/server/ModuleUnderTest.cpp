#include "ModuleUnderTest.h"

#include "common/KXVDSrcClsid.h"

std::wstring CModuleUnderTest::Path() {
    wchar_t exe[MAX_PATH];
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring folder(exe);
    folder.resize(folder.find_last_of(L'\\') + 1);
    return folder + KXVDSourceModuleName;
}

CModuleUnderTest::CModuleUnderTest() : Module(LoadLibraryW(Path().c_str())) {
    if (!Module) return;
    GetClassObject = reinterpret_cast<decltype(GetClassObject)>(reinterpret_cast<void*>(GetProcAddress(Module, "DllGetClassObject")));
    CanUnloadNow = reinterpret_cast<decltype(CanUnloadNow)>(reinterpret_cast<void*>(GetProcAddress(Module, "DllCanUnloadNow")));
    RegisterServer = reinterpret_cast<decltype(RegisterServer)>(reinterpret_cast<void*>(GetProcAddress(Module, "DllRegisterServer")));
    UnregisterServer = reinterpret_cast<decltype(UnregisterServer)>(reinterpret_cast<void*>(GetProcAddress(Module, "DllUnregisterServer")));
    Install = reinterpret_cast<decltype(Install)>(reinterpret_cast<void*>(GetProcAddress(Module, "DllInstall")));
}

CModuleUnderTest::~CModuleUnderTest() {
    if (Module) FreeLibrary(Module);
}
