#include "bench/ModuleFactory.h"

#include "common/KXVDSrcClsid.h"

CModuleFactory::~CModuleFactory() {
    Factory.Reset();
    // The module stays loaded: graphs of this process may still hold its
    // objects, and COM would unload it on its own terms.
}

std::wstring CModuleFactory::BesideExecutable(const wchar_t* name) {
    wchar_t exe[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring folder(exe, length);
    folder.resize(folder.find_last_of(L'\\') + 1);
    return folder + name;
}

bool CModuleFactory::Open() {
    Handle = LoadLibraryW(BesideExecutable(KXVDSourceModuleName).c_str());
    if (!Handle) return false;
    using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    auto entry = reinterpret_cast<GetClassObject>(reinterpret_cast<void*>(GetProcAddress(Handle, "DllGetClassObject")));
    return entry && SUCCEEDED(entry(CLSID_KXVDSource, IID_IClassFactory, reinterpret_cast<void**>(Factory.GetAddressOf())));
}

HRESULT CModuleFactory::CreateFilter(IBaseFilter** filter) {
    if (!filter) return E_POINTER;
    if (!Factory) return E_UNEXPECTED;
    return Factory->CreateInstance(nullptr, IID_IBaseFilter, reinterpret_cast<void**>(filter));
}
