#include "framework/BasePin.h"

#include "framework/BaseFilter.h"
#include "framework/EnumMediaTypes.h"
#include "framework/ScopedLock.h"

#include <cwchar>
#include <new>

#include <vfwmsgs.h>

namespace {

// Refusals that say nothing more specific than "not this type".
bool IsGeneralRefusal(HRESULT result) {
    return result == E_FAIL || result == E_INVALIDARG || result == VFW_E_TYPE_NOT_ACCEPTED;
}

// The record stands in for the wrapper, which adds no fields of its own.
const CMediaFormat* AsFormat(const AM_MEDIA_TYPE* type) {
    return static_cast<const CMediaFormat*>(type);
}

}  // namespace

CBasePin::CBasePin(const char* objectName, CBaseFilter* filter, CCritLock* lock, HRESULT*,
                   const wchar_t* pinName, PIN_DIRECTION direction)
    : CUnknown(objectName, nullptr),
      PinName(nullptr),
      ConnectedPin(nullptr),
      PinDirection(direction),
      PinLock(lock),
      ReconnectWhenActive(FALSE),
      TryOwnTypesFirst(0),
      ParentFilter(filter),
      QualitySink(nullptr),
      TypeListVersion(1),
      SegmentStart(0),
      SegmentStop(0x7FFFFFFFFFFFFFFFLL),
      SegmentRate(1.0) {
    if (pinName) {
        size_t length = std::wcslen(pinName);
        PinName = new (std::nothrow) wchar_t[length + 1];
        if (PinName) {
            std::wmemcpy(PinName, pinName, length + 1);
        }
    }
}

CBasePin::~CBasePin() {
    delete[] PinName;
    ClearMediaType(&ConnectionType);
}

HRESULT STDMETHODCALLTYPE CBasePin::InnerQueryInterface(REFIID id, void** out) {
    if (!out) {
        return E_POINTER;
    }
    if (IsEqualGUID(id, IID_IPin)) {
        return HandOutInterface(static_cast<IPin*>(this), out);
    }
    if (IsEqualGUID(id, IID_IQualityControl)) {
        return HandOutInterface(static_cast<IQualityControl*>(this), out);
    }
    return CUnknown::InnerQueryInterface(id, out);
}

ULONG STDMETHODCALLTYPE CBasePin::InnerAddRef() {
    return static_cast<IBaseFilter*>(ParentFilter)->AddRef();
}

ULONG STDMETHODCALLTYPE CBasePin::InnerRelease() {
    return static_cast<IBaseFilter*>(ParentFilter)->Release();
}

LONG CBasePin::MediaTypeListVersion() {
    return TypeListVersion;
}

HRESULT CBasePin::Activate() {
    return S_OK;
}

HRESULT CBasePin::Deactivate() {
    return S_OK;
}

HRESULT CBasePin::OnFilterRun(REFERENCE_TIME) {
    return S_OK;
}

HRESULT CBasePin::OnFilterPause() {
    return S_OK;
}

HRESULT CBasePin::SetConnectionType(const CMediaFormat* type) {
    HRESULT result = ConnectionType.AssignFrom(*type);
    return FAILED(result) ? result : S_OK;
}

HRESULT CBasePin::VerifyPeer(IPin* peer) {
    PIN_DIRECTION peerDirection = PinDirection;
    // A peer that cannot tell its direction cannot be trusted to be opposite.
    if (FAILED(peer->QueryDirection(&peerDirection))) {
        return VFW_E_INVALID_DIRECTION;
    }
    return peerDirection == PinDirection ? VFW_E_INVALID_DIRECTION : S_OK;
}

HRESULT CBasePin::TearDownConnection() {
    return S_OK;
}

HRESULT CBasePin::FinishConnection(IPin*) {
    return S_OK;
}

bool CBasePin::FilterIsStopped() const {
    return ParentFilter->CurrentState() == State_Stopped;
}

HRESULT STDMETHODCALLTYPE CBasePin::Connect(IPin* receiver, const AM_MEDIA_TYPE* type) {
    if (!receiver) {
        return E_POINTER;
    }
    CScopedLock hold(PinLock);
    if (ConnectedPin) {
        return VFW_E_ALREADY_CONNECTED;
    }
    if (!FilterIsStopped() && !ReconnectWhenActive) {
        return VFW_E_NOT_STOPPED;
    }
    HRESULT result = NegotiateMediaType(receiver, type);
    if (SUCCEEDED(result)) {
        return S_OK;
    }
    TearDownConnection();
    return result;
}

HRESULT CBasePin::NegotiateMediaType(IPin* receiver, const AM_MEDIA_TYPE* type) {
    if (type && !AsFormat(type)->IsIncomplete()) {
        return TryConnectionType(receiver, type);
    }
    HRESULT remembered = VFW_E_NO_ACCEPTABLE_TYPES;
    for (int pass = 0; pass < 2; ++pass) {
        IEnumMediaTypes* types = nullptr;
        HRESULT got = (pass == TryOwnTypesFirst) ? receiver->EnumMediaTypes(&types) : EnumMediaTypes(&types);
        if (FAILED(got) || !types) {
            continue;
        }
        HRESULT result = TryEnumeratedTypes(receiver, type, types);
        types->Release();
        if (SUCCEEDED(result)) {
            return S_OK;
        }
        if (!IsGeneralRefusal(result)) {
            remembered = result;
        }
    }
    return remembered;
}

HRESULT CBasePin::TryEnumeratedTypes(IPin* receiver, const AM_MEDIA_TYPE* pattern, IEnumMediaTypes* types) {
    HRESULT result = types->Reset();
    if (FAILED(result)) {
        return result;
    }
    HRESULT kept = S_OK;
    for (;;) {
        AM_MEDIA_TYPE* fetched = nullptr;
        ULONG count = 0;
        if (types->Next(1, &fetched, &count) != S_OK || !fetched) {
            FreeMediaTypeBlock(fetched);
            return kept == S_OK ? VFW_E_NO_ACCEPTABLE_TYPES : kept;
        }
        if (!pattern || AsFormat(fetched)->MatchesPattern(*pattern)) {
            result = TryConnectionType(receiver, fetched);
            if (FAILED(result) && SUCCEEDED(kept) && !IsGeneralRefusal(result)) {
                kept = result;
            }
        } else {
            result = VFW_E_NO_ACCEPTABLE_TYPES;
        }
        FreeMediaTypeBlock(fetched);
        if (result == S_OK) {
            return S_OK;
        }
    }
}

HRESULT CBasePin::TryConnectionType(IPin* receiver, const AM_MEDIA_TYPE* type) {
    HRESULT result = VerifyPeer(receiver);
    if (FAILED(result)) {
        TearDownConnection();
        return result;
    }
    result = VerifyMediaType(AsFormat(type));
    if (result != S_OK) {
        if (SUCCEEDED(result) || IsGeneralRefusal(result)) {
            result = VFW_E_TYPE_NOT_ACCEPTED;
        }
    } else {
        ConnectedPin = receiver;
        ConnectedPin->AddRef();
        result = SetConnectionType(AsFormat(type));
        if (SUCCEEDED(result)) {
            result = receiver->ReceiveConnection(static_cast<IPin*>(this), type);
            if (SUCCEEDED(result)) {
                result = FinishConnection(receiver);
                if (SUCCEEDED(result)) {
                    return result;
                }
                receiver->Disconnect();
            }
        }
    }
    TearDownConnection();
    if (ConnectedPin) {
        ConnectedPin->Release();
        ConnectedPin = nullptr;
    }
    return result;
}

HRESULT STDMETHODCALLTYPE CBasePin::ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) {
    if (!connector || !type) {
        return E_POINTER;
    }
    CScopedLock hold(PinLock);
    if (ConnectedPin) {
        return VFW_E_ALREADY_CONNECTED;
    }
    if (!FilterIsStopped() && !ReconnectWhenActive) {
        return VFW_E_NOT_STOPPED;
    }
    HRESULT result = VerifyPeer(connector);
    if (FAILED(result)) {
        TearDownConnection();
        return result;
    }
    result = VerifyMediaType(AsFormat(type));
    if (result != S_OK) {
        TearDownConnection();
        return (SUCCEEDED(result) || IsGeneralRefusal(result)) ? VFW_E_TYPE_NOT_ACCEPTED : result;
    }
    ConnectedPin = connector;
    ConnectedPin->AddRef();
    result = SetConnectionType(AsFormat(type));
    if (SUCCEEDED(result)) {
        result = FinishConnection(connector);
        if (SUCCEEDED(result)) {
            return S_OK;
        }
    }
    ConnectedPin->Release();
    ConnectedPin = nullptr;
    TearDownConnection();
    return result;
}

HRESULT STDMETHODCALLTYPE CBasePin::Disconnect() {
    CScopedLock hold(PinLock);
    if (!FilterIsStopped()) {
        return VFW_E_NOT_STOPPED;
    }
    if (!ConnectedPin) {
        return S_FALSE;
    }
    HRESULT result = TearDownConnection();
    if (FAILED(result)) {
        return result;
    }
    ConnectedPin->Release();
    ConnectedPin = nullptr;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePin::ConnectedTo(IPin** pin) {
    if (!pin) {
        return E_POINTER;
    }
    IPin* peer = ConnectedPin;
    *pin = peer;
    if (!peer) {
        return VFW_E_NOT_CONNECTED;
    }
    peer->AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePin::ConnectionMediaType(AM_MEDIA_TYPE* type) {
    if (!type) {
        return E_POINTER;
    }
    CScopedLock hold(PinLock);
    if (!ConnectedPin) {
        ResetMediaType(type);
        return VFW_E_NOT_CONNECTED;
    }
    CopyMediaTypeDeep(type, &ConnectionType);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePin::QueryPinInfo(PIN_INFO* info) {
    if (!info) {
        return E_POINTER;
    }
    info->pFilter = ParentFilter ? static_cast<IBaseFilter*>(ParentFilter) : nullptr;
    if (info->pFilter) {
        info->pFilter->AddRef();
    }
    const size_t capacity = sizeof(info->achName) / sizeof(info->achName[0]);
    size_t length = PinName ? std::wcslen(PinName) : 0;
    if (length > capacity - 1) {
        length = capacity - 1;
    }
    if (length) {
        std::wmemcpy(info->achName, PinName, length);
    }
    info->achName[length] = L'\0';
    info->dir = PinDirection;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePin::QueryDirection(PIN_DIRECTION* direction) {
    if (!direction) {
        return E_POINTER;
    }
    *direction = PinDirection;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePin::QueryAccept(const AM_MEDIA_TYPE* type) {
    if (!type) {
        return E_POINTER;
    }
    HRESULT result = VerifyMediaType(AsFormat(type));
    return FAILED(result) ? S_FALSE : result;
}

HRESULT STDMETHODCALLTYPE CBasePin::EnumMediaTypes(IEnumMediaTypes** types) {
    if (!types) {
        return E_POINTER;
    }
    *types = new (std::nothrow) CEnumMediaTypes(this, nullptr);
    return *types ? S_OK : E_OUTOFMEMORY;
}

HRESULT STDMETHODCALLTYPE CBasePin::QueryInternalConnections(IPin**, ULONG*) {
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE CBasePin::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
    SegmentStart = start;
    SegmentStop = stop;
    SegmentRate = rate;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBasePin::Notify(IBaseFilter*, Quality) {
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE CBasePin::SetSink(IQualityControl* sink) {
    CScopedLock hold(PinLock);
    QualitySink = sink;
    return S_OK;
}
