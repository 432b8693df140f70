// CBasePin: IPin and IQualityControl for a pin owned by a CBaseFilter, with
// the connection protocol. Owns PinName, ConnectionType and, while connected
// (or connecting), one reference on ConnectedPin. ParentFilter and QualitySink
// are held without references; AddRef/Release reach the parent filter, which
// deletes its pins.
//
// Threads: the graph's and application's threads; downstream threads may call
// IQualityControl. PinLock is the owning filter's lock (shared, re-entrant)
// and guards ConnectedPin, ConnectionType and the connection state; Connect
// holds it across the calls into the peer. ConnectedTo, QueryPinInfo,
// QueryDirection, QueryAccept, EnumMediaTypes, NewSegment and the version
// read take no lock; QualitySink and the segment fields are plain stores.
#pragma once

#include "framework/CritLock.h"
#include "framework/MediaFormat.h"
#include "framework/Unknown.h"

#include <windows.h>
#include <strmif.h>
#include <control.h>

class CBaseFilter;

class CBasePin : public CUnknown, public IPin, public IQualityControl {
public:
    // result is not written: construction cannot fail (a name that cannot be
    // copied leaves the pin nameless).
    CBasePin(const char* objectName, CBaseFilter* filter, CCritLock* lock, HRESULT* result,
             const wchar_t* pinName, PIN_DIRECTION direction);

    HRESULT STDMETHODCALLTYPE InnerQueryInterface(REFIID id, void** out) override;
    ULONG STDMETHODCALLTYPE InnerAddRef() override;
    ULONG STDMETHODCALLTYPE InnerRelease() override;
    ~CBasePin() override;

    virtual LONG MediaTypeListVersion();
    // Leaving the stopped state: every connected pin is activated first; only
    // when all of them have been are they told OnFilterPause, so a pin that
    // sends data starts in OnFilterPause, and an activation failure can take
    // the others back without waiting on a peer that holds their data.
    virtual HRESULT Activate();
    virtual HRESULT OnFilterPause();
    virtual HRESULT Deactivate();
    virtual HRESULT OnFilterRun(REFERENCE_TIME start);
    // Exactly S_OK accepts.
    virtual HRESULT VerifyMediaType(const CMediaFormat* type) = 0;
    virtual HRESULT SetConnectionType(const CMediaFormat* type);
    virtual HRESULT VerifyPeer(IPin* peer);
    virtual HRESULT TearDownConnection();
    virtual HRESULT FinishConnection(IPin* peer);
    // S_OK with the type at position, VFW_S_NO_MORE_ITEMS past the last.
    virtual HRESULT ProposeMediaType(int position, CMediaFormat* type) = 0;

    KX_FORWARD_UNKNOWN_TO_OUTER

    // IPin (QueryId, EndOfStream, BeginFlush, EndFlush are left to derived pins)
    HRESULT STDMETHODCALLTYPE Connect(IPin* receiver, const AM_MEDIA_TYPE* type) override;
    HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) override;
    HRESULT STDMETHODCALLTYPE Disconnect() override;
    HRESULT STDMETHODCALLTYPE ConnectedTo(IPin** pin) override;
    HRESULT STDMETHODCALLTYPE ConnectionMediaType(AM_MEDIA_TYPE* type) override;
    HRESULT STDMETHODCALLTYPE QueryPinInfo(PIN_INFO* info) override;
    HRESULT STDMETHODCALLTYPE QueryDirection(PIN_DIRECTION* direction) override;
    HRESULT STDMETHODCALLTYPE QueryAccept(const AM_MEDIA_TYPE* type) override;
    HRESULT STDMETHODCALLTYPE EnumMediaTypes(IEnumMediaTypes** types) override;
    HRESULT STDMETHODCALLTYPE QueryInternalConnections(IPin** pins, ULONG* count) override;
    HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;
    // IQualityControl
    HRESULT STDMETHODCALLTYPE Notify(IBaseFilter* sender, Quality quality) override;
    HRESULT STDMETHODCALLTYPE SetSink(IQualityControl* sink) override;

    bool IsConnected() const { return ConnectedPin != nullptr; }
    // No reference added.
    IPin* GetConnectedPin() const { return ConnectedPin; }
    const CMediaFormat& CurrentConnectionType() const { return ConnectionType; }
    CBaseFilter* GetParentFilter() const { return ParentFilter; }
    PIN_DIRECTION GetDirection() const { return PinDirection; }
    REFERENCE_TIME CurrentSegmentStart() const { return SegmentStart; }
    REFERENCE_TIME CurrentSegmentStop() const { return SegmentStop; }
    double CurrentSegmentRate() const { return SegmentRate; }

protected:
    HRESULT NegotiateMediaType(IPin* receiver, const AM_MEDIA_TYPE* type);
    HRESULT TryEnumeratedTypes(IPin* receiver, const AM_MEDIA_TYPE* pattern, IEnumMediaTypes* types);
    HRESULT TryConnectionType(IPin* receiver, const AM_MEDIA_TYPE* type);
    bool FilterIsStopped() const;

    wchar_t* PinName;
    IPin* ConnectedPin;
    PIN_DIRECTION PinDirection;
    CCritLock* const PinLock;
    BYTE ReconnectWhenActive;
    BYTE TryOwnTypesFirst;
    CBaseFilter* const ParentFilter;
    IQualityControl* QualitySink;
    LONG TypeListVersion;
    CMediaFormat ConnectionType;
    REFERENCE_TIME SegmentStart;
    REFERENCE_TIME SegmentStop;
    double SegmentRate;
};
