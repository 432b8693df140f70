#include "server/ClassFactory.h"

#include "server/ModuleState.h"

#include <new>

CClassFactory::CClassFactory(const FactoryTemplate* entry)
    : CBaseObject("Class factory"), FactoryEntry(entry) {}

STDMETHODIMP CClassFactory::QueryInterface(REFIID id, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (IsEqualIID(id, IID_IUnknown) || IsEqualIID(id, IID_IClassFactory)) {
        *out = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CClassFactory::AddRef() {
    return static_cast<ULONG>(InterlockedIncrement(&FactoryRefCount));
}

STDMETHODIMP_(ULONG) CClassFactory::Release() {
    const LONG count = InterlockedDecrement(&FactoryRefCount);
    if (count == 0) delete this;
    return static_cast<ULONG>(count);
}

STDMETHODIMP CClassFactory::CreateInstance(IUnknown* outer, REFIID id, void** out) {
    if (!out) return E_POINTER;
    if (outer && !IsEqualIID(id, IID_IUnknown)) return E_NOINTERFACE;

    HRESULT result = S_OK;
    CUnknown* object = FactoryEntry->CreateObject(outer, &result);
    if (!object) return SUCCEEDED(result) ? E_OUTOFMEMORY : result;
    if (FAILED(result)) {
        delete object;
        return result;
    }
    object->InnerAddRef();
    result = object->InnerQueryInterface(id, out);
    object->InnerRelease();
    return result;
}

STDMETHODIMP CClassFactory::LockServer(BOOL lock) {
    if (lock) {
        InterlockedIncrement(&ServerLockCount);
    } else {
        InterlockedDecrement(&ServerLockCount);
    }
    return S_OK;
}
