#include "framework/EnumMediaTypes.h"

#include "framework/BasePin.h"
#include "framework/MediaFormat.h"
#include "framework/Unknown.h"

#include <new>

#include <objbase.h>
#include <vfwmsgs.h>

CEnumMediaTypes::CEnumMediaTypes(CBasePin* pin, const CEnumMediaTypes* source)
    : EnumPosition(0), OwnerPin(pin), EnumVersion(0), EnumRefCount(1) {
    if (source) {
        EnumPosition = source->EnumPosition;
        EnumVersion = source->EnumVersion;
    } else {
        EnumVersion = OwnerPin->MediaTypeListVersion();
    }
    static_cast<IPin*>(OwnerPin)->AddRef();
}

CEnumMediaTypes::~CEnumMediaTypes() {
    static_cast<IPin*>(OwnerPin)->Release();
}

HRESULT STDMETHODCALLTYPE CEnumMediaTypes::QueryInterface(REFIID id, void** out) {
    if (!out) {
        return E_POINTER;
    }
    if (IsEqualGUID(id, IID_IEnumMediaTypes) || IsEqualGUID(id, IID_IUnknown)) {
        return HandOutInterface(this, out);
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE CEnumMediaTypes::AddRef() {
    return static_cast<ULONG>(InterlockedIncrement(&EnumRefCount));
}

ULONG STDMETHODCALLTYPE CEnumMediaTypes::Release() {
    LONG count = InterlockedDecrement(&EnumRefCount);
    if (count == 0) {
        delete this;
    }
    return static_cast<ULONG>(count);
}

HRESULT STDMETHODCALLTYPE CEnumMediaTypes::Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) {
    if (!types) {
        return E_POINTER;
    }
    if (OwnerPin->MediaTypeListVersion() != EnumVersion) {
        return VFW_E_ENUM_OUT_OF_SYNC;
    }
    if (fetched) {
        *fetched = 0;
    } else if (count > 1) {
        return E_INVALIDARG;
    }
    ULONG got = 0;
    ULONG remaining = count;
    while (remaining > 0) {
        CMediaFormat fresh;
        LONG position = EnumPosition++;
        if (OwnerPin->ProposeMediaType(position, &fresh) != S_OK) {
            break;
        }
        auto* record = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
        if (!record) {
            break;
        }
        *record = fresh;
        fresh.pbFormat = nullptr;
        fresh.cbFormat = 0;
        fresh.pUnk = nullptr;
        types[got++] = record;
        --remaining;
    }
    if (fetched) {
        *fetched = got;
    }
    return remaining == 0 ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE CEnumMediaTypes::Skip(ULONG count) {
    if (count == 0) {
        return S_OK;
    }
    if (OwnerPin->MediaTypeListVersion() != EnumVersion) {
        return VFW_E_ENUM_OUT_OF_SYNC;
    }
    EnumPosition += static_cast<LONG>(count);
    CMediaFormat probe;
    return OwnerPin->ProposeMediaType(EnumPosition - 1, &probe) == S_OK ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE CEnumMediaTypes::Reset() {
    EnumPosition = 0;
    EnumVersion = OwnerPin->MediaTypeListVersion();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CEnumMediaTypes::Clone(IEnumMediaTypes** clone) {
    if (!clone) {
        return E_POINTER;
    }
    if (OwnerPin->MediaTypeListVersion() != EnumVersion) {
        *clone = nullptr;
        return VFW_E_ENUM_OUT_OF_SYNC;
    }
    *clone = new (std::nothrow) CEnumMediaTypes(OwnerPin, this);
    return *clone ? S_OK : E_OUTOFMEMORY;
}
