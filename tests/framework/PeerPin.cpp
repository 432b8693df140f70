#include "PeerPin.h"

#include <objbase.h>

namespace {

// Hands out copies of the peer's offered types, one list walk per Reset.
class PeerTypeList : public IEnumMediaTypes {
public:
    explicit PeerTypeList(const std::vector<CMediaFormat>* types) : Types(types) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** out) override {
        if (!out) {
            return E_POINTER;
        }
        if (IsEqualGUID(id, IID_IUnknown) || IsEqualGUID(id, IID_IEnumMediaTypes)) {
            *out = static_cast<IEnumMediaTypes*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++References); }
    ULONG STDMETHODCALLTYPE Release() override {
        LONG count = --References;
        if (count == 0) {
            delete this;
        }
        return static_cast<ULONG>(count);
    }
    HRESULT STDMETHODCALLTYPE Next(ULONG count, AM_MEDIA_TYPE** out, ULONG* fetched) override {
        ULONG got = 0;
        while (got < count && Position < Types->size()) {
            auto* record = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
            CopyMediaTypeDeep(record, &(*Types)[Position++]);
            out[got++] = record;
        }
        if (fetched) {
            *fetched = got;
        }
        return got == count ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
        Position += count;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Reset() override {
        Position = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnumMediaTypes**) override { return E_NOTIMPL; }

private:
    virtual ~PeerTypeList() = default;

    const std::vector<CMediaFormat>* Types;
    size_t Position = 0;
    LONG References = 1;
};

}  // namespace

HRESULT STDMETHODCALLTYPE PeerPin::QueryInterface(REFIID id, void** out) {
    if (!out) {
        return E_POINTER;
    }
    if (IsEqualGUID(id, IID_IUnknown) || IsEqualGUID(id, IID_IPin)) {
        *out = static_cast<IPin*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

HRESULT STDMETHODCALLTYPE PeerPin::ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) {
    Received.emplace_back(*type);
    bool accept = Accepted.empty();
    for (const CMediaFormat& accepted : Accepted) {
        accept = accept || accepted.Equals(*type);
    }
    if (!accept) {
        return RefusalCode;
    }
    Connector = connector;
    Connector->AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE PeerPin::Disconnect() {
    ++DisconnectCalls;
    if (!Connector) {
        return S_FALSE;
    }
    Connector->Release();
    Connector = nullptr;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE PeerPin::ConnectedTo(IPin** pin) {
    if (!pin) {
        return E_POINTER;
    }
    *pin = Connector;
    if (!Connector) {
        return VFW_E_NOT_CONNECTED;
    }
    Connector->AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE PeerPin::QueryDirection(PIN_DIRECTION* direction) {
    if (!direction) {
        return E_POINTER;
    }
    *direction = Direction;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE PeerPin::EnumMediaTypes(IEnumMediaTypes** types) {
    if (!types) {
        return E_POINTER;
    }
    if (Offered.empty()) {
        *types = nullptr;
        return E_NOTIMPL;
    }
    *types = new PeerTypeList(&Offered);
    return S_OK;
}
