// A downstream input pin written by hand (no filter behind it) that misbehaves
// on purpose in one chosen way, so the module's reaction to a bad neighbour can
// be watched: samples refused or failed, every sample held, allocators refused,
// NotifyAllocator failed, or an allocator whose GetBuffer or Commit fails.
//
// Connected by calling the source pin's Connect directly. Reference counted on
// the heap (one count for both interfaces); the test holds the first count.
//
// Threads: the test's thread configures and connects it and reads the
// counters; the source's worker and seeking threads call it. Mutex guards the
// counters and the held samples; Changed wakes the test's bounded waits.
#pragma once

#include <windows.h>
#include <strmif.h>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

enum class SinkFault {
    None,
    RefuseSamples,      // Receive answers S_FALSE
    FailReceive,        // Receive answers E_FAIL
    HoldSamples,        // Receive keeps a reference on every sample
    RefuseAllocators,   // GetAllocator and NotifyAllocator both refuse
    FailNotifyAllocator,
    FailGetBuffer,      // the offered allocator's GetBuffer fails
    FailCommit,         // the offered allocator's Commit fails (out of memory)
};

class CFaultySink : public IPin, public IMemInputPin {
public:
    explicit CFaultySink(SinkFault fault);

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE Connect(IPin*, const AM_MEDIA_TYPE*) override { return E_UNEXPECTED; }
    HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) override;
    HRESULT STDMETHODCALLTYPE Disconnect() override;
    HRESULT STDMETHODCALLTYPE ConnectedTo(IPin** pin) override;
    HRESULT STDMETHODCALLTYPE ConnectionMediaType(AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryPinInfo(PIN_INFO* info) override;
    HRESULT STDMETHODCALLTYPE QueryDirection(PIN_DIRECTION* direction) override;
    HRESULT STDMETHODCALLTYPE QueryId(LPWSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryAccept(const AM_MEDIA_TYPE*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE EnumMediaTypes(IEnumMediaTypes**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryInternalConnections(IPin**, ULONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EndOfStream() override;
    HRESULT STDMETHODCALLTYPE BeginFlush() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE EndFlush() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return S_OK; }

    HRESULT STDMETHODCALLTYPE GetAllocator(IMemAllocator** allocator) override;
    HRESULT STDMETHODCALLTYPE NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) override;
    HRESULT STDMETHODCALLTYPE GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Receive(IMediaSample* sample) override;
    HRESULT STDMETHODCALLTYPE ReceiveMultiple(IMediaSample** samples, long count, long* done) override;
    HRESULT STDMETHODCALLTYPE ReceiveCanBlock() override { return S_FALSE; }

    // Bounded wait until condition holds (checked under Mutex).
    bool WaitFor(const std::function<bool()>& condition, DWORD timeoutMs);
    // Gives back every held sample.
    void ReleaseHeldSamples();

    std::mutex Mutex;
    LONG Receives = 0;        // guarded by Mutex
    LONG EndOfStreams = 0;    // guarded by Mutex
    LONG BadSamples = 0;      // samples whose length exceeds their buffer; guarded by Mutex
    size_t HeldCount() {
        std::lock_guard<std::mutex> hold(Mutex);
        return Held.size();
    }

private:
    class CFailingAllocator;
    virtual ~CFaultySink();
    void Changed();

    const SinkFault Fault;
    volatile LONG References = 1;
    IPin* Connector = nullptr;           // counted; written while connecting
    IMemAllocator* Offered = nullptr;    // counted; the allocator GetAllocator hands out
    std::vector<IMediaSample*> Held;     // counted; guarded by Mutex
    std::condition_variable Signal;
};

struct SinkReleaser {
    void operator()(CFaultySink* sink) const { sink->Release(); }
};
// The test's own reference to a sink.
using SinkHandle = std::unique_ptr<CFaultySink, SinkReleaser>;
inline SinkHandle MakeSink(SinkFault fault) { return SinkHandle(new CFaultySink(fault)); }
