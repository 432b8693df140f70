#include "framework/EnumPins.h"

#include "framework/BaseFilter.h"
#include "framework/BasePin.h"
#include "framework/Unknown.h"

#include <algorithm>
#include <new>

#include <vfwmsgs.h>

CEnumPins::CEnumPins(CBaseFilter* filter, const CEnumPins* source)
    : EnumPosition(0), EnumCount(0), OwnerOfPins(filter), EnumVersion(0), EnumRefCount(1) {
    if (source) {
        EnumPosition = source->EnumPosition;
        EnumCount = source->EnumCount;
        EnumVersion = source->EnumVersion;
        ReturnedPins = source->ReturnedPins;
    } else {
        EnumVersion = OwnerOfPins->PinSetVersion();
        EnumCount = OwnerOfPins->CountPins();
    }
    static_cast<IBaseFilter*>(OwnerOfPins)->AddRef();
}

CEnumPins::~CEnumPins() {
    static_cast<IBaseFilter*>(OwnerOfPins)->Release();
}

HRESULT STDMETHODCALLTYPE CEnumPins::QueryInterface(REFIID id, void** out) {
    if (!out) {
        return E_POINTER;
    }
    if (IsEqualGUID(id, IID_IEnumPins) || IsEqualGUID(id, IID_IUnknown)) {
        return HandOutInterface(this, out);
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE CEnumPins::AddRef() {
    return static_cast<ULONG>(InterlockedIncrement(&EnumRefCount));
}

ULONG STDMETHODCALLTYPE CEnumPins::Release() {
    LONG count = InterlockedDecrement(&EnumRefCount);
    if (count == 0) {
        delete this;
    }
    return static_cast<ULONG>(count);
}

void CEnumPins::ResyncWithFilter() {
    EnumVersion = OwnerOfPins->PinSetVersion();
    EnumCount = OwnerOfPins->CountPins();
    EnumPosition = 0;
}

bool CEnumPins::AlreadyReturned(CBasePin* pin) const {
    return std::find(ReturnedPins.begin(), ReturnedPins.end(), pin) != ReturnedPins.end();
}

HRESULT STDMETHODCALLTYPE CEnumPins::Next(ULONG count, IPin** pins, ULONG* fetched) {
    if (!pins) {
        return E_POINTER;
    }
    if (fetched) {
        *fetched = 0;
    } else if (count > 1) {
        return E_INVALIDARG;
    }
    if (OwnerOfPins->PinSetVersion() != EnumVersion) {
        ResyncWithFilter();
    }
    ULONG remaining = static_cast<ULONG>(EnumCount - EnumPosition);
    ULONG budget = std::min(remaining, count);
    if (budget == 0) {
        return S_FALSE;
    }
    ULONG got = 0;
    while (budget > 0 && EnumPosition != EnumCount) {
        CBasePin* pin = OwnerOfPins->PinByIndex(EnumPosition);
        ++EnumPosition;
        if (!pin) {
            // The caller gets a failure and no count, so it cannot release
            // what was already placed: take those references back here.
            for (ULONG i = 0; i < got; ++i) {
                pins[i]->Release();
                pins[i] = nullptr;
            }
            return VFW_E_ENUM_OUT_OF_SYNC;
        }
        if (AlreadyReturned(pin)) {
            continue;
        }
        try {
            ReturnedPins.push_back(pin);
        } catch (const std::bad_alloc&) {
            break;
        }
        pins[got] = static_cast<IPin*>(pin);
        pins[got]->AddRef();
        ++got;
        --budget;
    }
    if (fetched) {
        *fetched = got;
    }
    return got == count ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE CEnumPins::Skip(ULONG count) {
    if (OwnerOfPins->PinSetVersion() != EnumVersion) {
        return VFW_E_ENUM_OUT_OF_SYNC;
    }
    if (count > static_cast<ULONG>(EnumCount - EnumPosition)) {
        return S_FALSE;
    }
    EnumPosition += static_cast<LONG>(count);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CEnumPins::Reset() {
    ResyncWithFilter();
    ReturnedPins.clear();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CEnumPins::Clone(IEnumPins** clone) {
    if (!clone) {
        return E_POINTER;
    }
    if (OwnerOfPins->PinSetVersion() != EnumVersion) {
        *clone = nullptr;
        return VFW_E_ENUM_OUT_OF_SYNC;
    }
    // Copying the returned-pins list may fail as well as the object itself.
    CEnumPins* copy = nullptr;
    try {
        copy = new CEnumPins(OwnerOfPins, this);
    } catch (const std::bad_alloc&) {
        copy = nullptr;
    }
    *clone = copy;
    return copy ? S_OK : E_OUTOFMEMORY;
}
