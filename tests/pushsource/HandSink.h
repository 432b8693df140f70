// A hand-written downstream input pin (no filter behind it) for the faults
// Wine's filters cannot produce: an allocator of its own or none, failing
// requirements, refused or held samples. It records what the output pin
// sends it. Connected by calling the source pin's Connect directly.
//
// Threads: the test's thread configures it before connecting; the source's
// worker and seeking threads call it; Mutex guards the records, and Changed
// wakes the test's bounded waits.
#pragma once

#include <windows.h>
#include <strmif.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <vector>

class CHandSink : public IPin, public IMemInputPin {
public:
    CHandSink();

    // IUnknown (one count for both interfaces; the test holds the first).
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IPin: only the receiving side of a connection.
    HRESULT STDMETHODCALLTYPE Connect(IPin*, const AM_MEDIA_TYPE*) override;
    HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) override;
    HRESULT STDMETHODCALLTYPE Disconnect() override;
    HRESULT STDMETHODCALLTYPE ConnectedTo(IPin** pin) override;
    HRESULT STDMETHODCALLTYPE ConnectionMediaType(AM_MEDIA_TYPE* type) override;
    HRESULT STDMETHODCALLTYPE QueryPinInfo(PIN_INFO* info) override;
    HRESULT STDMETHODCALLTYPE QueryDirection(PIN_DIRECTION* direction) override;
    HRESULT STDMETHODCALLTYPE QueryId(LPWSTR* id) override;
    HRESULT STDMETHODCALLTYPE QueryAccept(const AM_MEDIA_TYPE* type) override;
    HRESULT STDMETHODCALLTYPE EnumMediaTypes(IEnumMediaTypes** types) override;
    HRESULT STDMETHODCALLTYPE QueryInternalConnections(IPin** pins, ULONG* count) override;
    HRESULT STDMETHODCALLTYPE EndOfStream() override;
    HRESULT STDMETHODCALLTYPE BeginFlush() override;
    HRESULT STDMETHODCALLTYPE EndFlush() override;
    HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

    // IMemInputPin
    HRESULT STDMETHODCALLTYPE GetAllocator(IMemAllocator** allocator) override;
    HRESULT STDMETHODCALLTYPE NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) override;
    HRESULT STDMETHODCALLTYPE GetAllocatorRequirements(ALLOCATOR_PROPERTIES* props) override;
    HRESULT STDMETHODCALLTYPE Receive(IMediaSample* sample) override;
    HRESULT STDMETHODCALLTYPE ReceiveMultiple(IMediaSample** samples, long count, long* processed) override;
    HRESULT STDMETHODCALLTYPE ReceiveCanBlock() override;

    // Configuration, before connecting.
    bool OfferOwnAllocator = false;
    HRESULT RequirementsResult = E_NOTIMPL;
    ALLOCATOR_PROPERTIES Requirements = {};
    LONG RefuseFrom = -1;            // Receive answers RefusalResult from this count on
    HRESULT RefusalResult = S_FALSE;
    bool HoldSamples = false;        // keep a reference on each sample received

    // Waits, bounded, until the condition holds under Mutex.
    bool WaitFor(const std::function<bool()>& condition, DWORD timeoutMs = 10000);
    void ReleaseHeldSamples();
    // Reference held on the allocator offered through GetAllocator.
    IMemAllocator* OwnAllocator() const { return Own; }

    std::mutex Mutex;
    std::vector<LONG> Numbers;  // first 32 bits of every sample received
    LONG Receives = 0;
    LONG EndOfStreams = 0;
    LONG BeginFlushes = 0;
    LONG EndFlushes = 0;
    std::vector<REFERENCE_TIME> SegmentStarts;
    IMemAllocator* Notified = nullptr;  // reference held
    BOOL NotifiedReadOnly = TRUE;
    IPin* Connector = nullptr;          // reference held
    LONG DisconnectCalls = 0;

private:
    virtual ~CHandSink();

    void Changed();

    volatile LONG RefCount = 1;
    IMemAllocator* Own = nullptr;
    std::vector<IMediaSample*> Held;
    std::condition_variable Signal;
};
