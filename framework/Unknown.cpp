#include "framework/Unknown.h"

HRESULT HandOutInterface(IUnknown* iface, void** out) {
    if (!out) {
        return E_POINTER;
    }
    *out = iface;
    iface->AddRef();
    return S_OK;
}

CUnknown::CUnknown(const char* objectName, IUnknown* outer)
    : CBaseObject(objectName), OuterUnknown(outer ? outer : InnerUnknown()), RefCount(0) {}

CUnknown::~CUnknown() = default;

HRESULT STDMETHODCALLTYPE CUnknown::InnerQueryInterface(REFIID id, void** out) {
    if (!out) {
        return E_POINTER;
    }
    if (IsEqualGUID(id, IID_IUnknown)) {
        return HandOutInterface(InnerUnknown(), out);
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE CUnknown::InnerAddRef() {
    LONG count = InterlockedIncrement(&RefCount);
    return count < 1 ? 1 : static_cast<ULONG>(count);
}

ULONG STDMETHODCALLTYPE CUnknown::InnerRelease() {
    LONG count = InterlockedDecrement(&RefCount);
    if (count == 0) {
        // Held at 1 while the destructor runs, so a reference the destructor
        // takes and drops on this object cannot start a second destruction.
        RefCount = 1;
        delete this;
        return 0;
    }
    return count < 1 ? 1 : static_cast<ULONG>(count);
}
