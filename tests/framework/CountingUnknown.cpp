#include "CountingUnknown.h"

HRESULT STDMETHODCALLTYPE CountingUnknown::QueryInterface(REFIID, void** out) {
    if (!out) {
        return E_POINTER;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE CountingUnknown::AddRef() { return static_cast<ULONG>(++References); }

ULONG STDMETHODCALLTYPE CountingUnknown::Release() { return static_cast<ULONG>(--References); }
