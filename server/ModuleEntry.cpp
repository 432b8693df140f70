// The loader's entry point and the two class-object exports of the COM server.
#include "server/ClassFactory.h"
#include "server/FactoryTemplate.h"
#include "server/ModuleState.h"

#include <new>

HINSTANCE ModuleInstance = nullptr;
volatile LONG ServerLockCount = 0;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        DisableThreadLibraryCalls(instance);
        ModuleInstance = instance;
        for (int i = 0; i < FactoryCount; ++i) {
            if (FactoryTable[i].InitRoutine) FactoryTable[i].InitRoutine(TRUE, FactoryTable[i].TemplateClassId);
        }
        break;
    case DLL_PROCESS_DETACH:
        for (int i = 0; i < FactoryCount; ++i) {
            if (FactoryTable[i].InitRoutine) FactoryTable[i].InitRoutine(FALSE, FactoryTable[i].TemplateClassId);
        }
        break;
    default:
        break;
    }
    return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID classId, REFIID id, void** out) {
    if (!out) return E_POINTER;
    if (!IsEqualIID(id, IID_IUnknown) && !IsEqualIID(id, IID_IClassFactory)) return E_NOINTERFACE;
    for (int i = 0; i < FactoryCount; ++i) {
        if (!IsEqualCLSID(classId, *FactoryTable[i].TemplateClassId)) continue;
        CClassFactory* factory = new (std::nothrow) CClassFactory(&FactoryTable[i]);
        *out = static_cast<IClassFactory*>(factory);
        if (!factory) return E_OUTOFMEMORY;
        factory->AddRef();
        return S_OK;
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() {
    return (ServerLockCount > 0 || LiveObjectCount != 0) ? S_FALSE : S_OK;
}
