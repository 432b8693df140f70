// CBaseOutputPin: the pin base for pins that send media samples downstream.
// On top of CBasePin's connection protocol it takes the peer's IMemInputPin
// when a connection is attempted, agrees a sample allocator when the
// connection completes (the peer's own first, a new memory allocator second,
// each sized by the derived pin's SizeAllocator), commits and decommits it as
// the filter starts and stops, hands out empty samples, delivers filled ones
// and passes end-of-stream, flush and new-segment notifications downstream.
//
// Owns one reference on Allocator and one on InputPin while connected (or
// connecting); TearDownConnection drops both. The destructor releases neither:
// a pin is torn down by its disconnection.
//
// Threads and locks: no operation takes a lock of its own; callers provide
// the ordering. VerifyPeer, TearDownConnection, FinishConnection and
// NegotiateAllocator run inside the connection protocol under PinLock;
// Activate and Deactivate run from the filter's state changes under the
// filter's lock; ObtainDeliveryBuffer, SendSample, SendEndOfStream and
// SendNewSegment run on the stream's worker while the filter is active (the
// fields only change while it is stopped); SendBeginFlush and SendEndFlush
// run on the thread that seeks.
#pragma once

#include "framework/BasePin.h"

#include <windows.h>
#include <strmif.h>

class CBaseOutputPin : public CBasePin {
public:
    // result is not written.
    CBaseOutputPin(const char* objectName, CBaseFilter* filter, CCritLock* lock, HRESULT* result,
                   const wchar_t* pinName);

    // Commit / decommit the agreed allocator; VFW_E_NO_ALLOCATOR without one.
    HRESULT Activate() override;
    HRESULT Deactivate() override;
    // The direction check, then the peer's IMemInputPin into InputPin.
    HRESULT VerifyPeer(IPin* peer) override;
    // Decommits and releases Allocator (a decommit failure is returned and
    // keeps both references), then releases InputPin.
    HRESULT TearDownConnection() override;
    // NegotiateAllocator into Allocator; the peer argument is not used.
    HRESULT FinishConnection(IPin* peer) override;

    // Leaves the agreed allocator, with one reference, in *allocator, or
    // null and the failure of the last step tried.
    virtual HRESULT NegotiateAllocator(IMemInputPin* input, IMemAllocator** allocator);
    // Sets the buffer count and size on the allocator and checks what it
    // granted; a failure refuses that allocator. The request starts as the
    // peer's requirements (alignment at least 1) and keeps the changes made
    // by an earlier call during the same negotiation.
    virtual HRESULT SizeAllocator(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) = 0;
    // IMemAllocator::GetBuffer; E_NOINTERFACE without an allocator.
    virtual HRESULT ObtainDeliveryBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* stop,
                                         DWORD flags);
    // The peer's Receive result unchanged; VFW_E_NOT_CONNECTED when unconnected.
    virtual HRESULT SendSample(IMediaSample* sample);
    virtual HRESULT CreateDefaultAllocator(IMemAllocator** allocator);
    // Downstream notifications; VFW_E_NOT_CONNECTED when unconnected.
    virtual HRESULT SendEndOfStream();
    virtual HRESULT SendBeginFlush();
    virtual HRESULT SendEndFlush();
    virtual HRESULT SendNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate);

    // Notifications meant for input pins: E_UNEXPECTED.
    HRESULT STDMETHODCALLTYPE EndOfStream() override;
    HRESULT STDMETHODCALLTYPE BeginFlush() override;
    HRESULT STDMETHODCALLTYPE EndFlush() override;

protected:
    IMemAllocator* Allocator;
    IMemInputPin* InputPin;
};
