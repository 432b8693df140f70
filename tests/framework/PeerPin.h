// A hand-written input pin on the far side of a connection: reports a
// direction, offers a list of types, and accepts or refuses ReceiveConnection
// with a chosen code. Plain reference count; the test that creates it owns it
// and checks that every reference came back. Testing thread only.
#pragma once

#include "framework/MediaFormat.h"

#include <strmif.h>
#include <vfwmsgs.h>

#include <vector>

class PeerPin : public IPin {
public:
    PeerPin() = default;
    virtual ~PeerPin() = default;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++References); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--References); }
    HRESULT STDMETHODCALLTYPE Connect(IPin*, const AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) override;
    HRESULT STDMETHODCALLTYPE Disconnect() override;
    HRESULT STDMETHODCALLTYPE ConnectedTo(IPin** pin) override;
    HRESULT STDMETHODCALLTYPE ConnectionMediaType(AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryPinInfo(PIN_INFO*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryDirection(PIN_DIRECTION* direction) override;
    HRESULT STDMETHODCALLTYPE QueryId(LPWSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryAccept(const AM_MEDIA_TYPE*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE EnumMediaTypes(IEnumMediaTypes** types) override;
    HRESULT STDMETHODCALLTYPE QueryInternalConnections(IPin**, ULONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EndOfStream() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE BeginFlush() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE EndFlush() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return S_OK; }

    PIN_DIRECTION Direction = PINDIR_INPUT;
    // Offered through a media-type enumerator; empty means EnumMediaTypes fails.
    std::vector<CMediaFormat> Offered;
    // Types ReceiveConnection accepts (by Equals); empty accepts every type.
    std::vector<CMediaFormat> Accepted;
    HRESULT RefusalCode = VFW_E_TYPE_NOT_ACCEPTED;
    LONG References = 0;
    IPin* Connector = nullptr;
    std::vector<CMediaFormat> Received;
    int DisconnectCalls = 0;
};
