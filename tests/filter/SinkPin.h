// A stand-alone input pin that takes a connection from one of the filter's
// pins without a graph, hands out an allocator that grants buffers of at
// least MinimumBytes, and logs every sample it receives into a CSampleLog.
// Used to see what the filter does with buffers larger than it asked for,
// and with quality reports, which it can send back for every sample as a
// renderer does.
//
// Graph-facing calls arrive on the test's thread, samples on the filter's
// worker; the counts are interlocked, Peer is written only while connecting.
#pragma once

#include "SampleLog.h"

#include <dshow.h>

class CSinkPin : public IPin, public IMemInputPin {
public:
    CSinkPin(CSampleLog* log, long minimumBytes);
    ~CSinkPin();
    CSinkPin(const CSinkPin&) = delete;
    CSinkPin& operator=(const CSinkPin&) = delete;

    STDMETHODIMP QueryInterface(REFIID id, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }

    // IPin
    STDMETHODIMP Connect(IPin*, const AM_MEDIA_TYPE*) override { return E_UNEXPECTED; }
    STDMETHODIMP ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) override;
    STDMETHODIMP Disconnect() override;
    STDMETHODIMP ConnectedTo(IPin** pin) override;
    STDMETHODIMP ConnectionMediaType(AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    STDMETHODIMP QueryPinInfo(PIN_INFO* info) override;
    STDMETHODIMP QueryDirection(PIN_DIRECTION* direction) override;
    STDMETHODIMP QueryId(LPWSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE*) override { return S_OK; }
    STDMETHODIMP EnumMediaTypes(IEnumMediaTypes**) override { return E_NOTIMPL; }
    STDMETHODIMP QueryInternalConnections(IPin**, ULONG*) override { return E_NOTIMPL; }
    STDMETHODIMP EndOfStream() override;
    STDMETHODIMP BeginFlush() override { return S_OK; }
    STDMETHODIMP EndFlush() override { return S_OK; }
    STDMETHODIMP NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return S_OK; }

    // IMemInputPin
    STDMETHODIMP GetAllocator(IMemAllocator** allocator) override;
    STDMETHODIMP NotifyAllocator(IMemAllocator*, BOOL) override { return S_OK; }
    STDMETHODIMP GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) override { return E_NOTIMPL; }
    STDMETHODIMP Receive(IMediaSample* sample) override;
    STDMETHODIMP ReceiveMultiple(IMediaSample** samples, long count, long* done) override;
    STDMETHODIMP ReceiveCanBlock() override { return S_FALSE; }

    LONG EndOfStreamCount() const { return EndsOfStream; }
    // Before the connection: each sample received is answered with a report
    // of lateness late to the sending pin, every other one with -late when
    // alternate.
    void ReportLateness(REFERENCE_TIME late, bool alternate);
    // Reports the sending pin did not answer with S_OK.
    LONG RefusedReports() const { return Refused; }

private:
    class CGrantingAllocator;

    CSampleLog* const Log;
    CGrantingAllocator* Allocator;
    IPin* Peer = nullptr;
    volatile LONG EndsOfStream = 0;
    REFERENCE_TIME Late = 0;
    bool Alternate = false;
    LONG Reports = 0;   // worker thread only
    volatile LONG Refused = 0;
};
