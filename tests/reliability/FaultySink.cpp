#include "FaultySink.h"

#include <dshow.h>
#include <uuids.h>

#include <chrono>

// Wraps the platform's memory allocator and fails every GetBuffer, as an
// allocator out of memory would.
class CFaultySink::CFailingAllocator : public IMemAllocator {
public:
    explicit CFailingAllocator(SinkFault fault) : Fault(fault) {
        CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                         reinterpret_cast<void**>(&Inner));
    }
    bool IsReady() const { return Inner != nullptr; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** out) override {
        if (!out) return E_POINTER;
        if (IsEqualIID(id, IID_IUnknown) || IsEqualIID(id, IID_IMemAllocator)) {
            *out = static_cast<IMemAllocator*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&References)); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG left = InterlockedDecrement(&References);
        if (left == 0) delete this;
        return static_cast<ULONG>(left);
    }
    HRESULT STDMETHODCALLTYPE SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) override {
        return Inner->SetProperties(request, actual);
    }
    HRESULT STDMETHODCALLTYPE GetProperties(ALLOCATOR_PROPERTIES* properties) override {
        return Inner->GetProperties(properties);
    }
    HRESULT STDMETHODCALLTYPE Commit() override {
        return Fault == SinkFault::FailCommit ? E_OUTOFMEMORY : Inner->Commit();
    }
    HRESULT STDMETHODCALLTYPE Decommit() override { return Inner->Decommit(); }
    HRESULT STDMETHODCALLTYPE GetBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* stop,
                                        DWORD flags) override {
        if (Fault != SinkFault::FailGetBuffer) return Inner->GetBuffer(sample, start, stop, flags);
        if (!sample) return E_POINTER;
        *sample = nullptr;
        return E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE ReleaseBuffer(IMediaSample* sample) override { return Inner->ReleaseBuffer(sample); }

private:
    virtual ~CFailingAllocator() {
        if (Inner) Inner->Release();
    }

    const SinkFault Fault;
    IMemAllocator* Inner = nullptr;
    volatile LONG References = 1;
};

CFaultySink::CFaultySink(SinkFault fault) : Fault(fault) {
    if (fault == SinkFault::FailGetBuffer || fault == SinkFault::FailCommit) {
        auto* allocator = new CFailingAllocator(fault);
        if (allocator->IsReady()) {
            Offered = allocator;
        } else {
            allocator->Release();
        }
    }
}

CFaultySink::~CFaultySink() {
    ReleaseHeldSamples();
    if (Connector) Connector->Release();
    if (Offered) Offered->Release();
}

HRESULT STDMETHODCALLTYPE CFaultySink::QueryInterface(REFIID id, void** out) {
    if (!out) return E_POINTER;
    if (IsEqualIID(id, IID_IUnknown) || IsEqualIID(id, IID_IPin)) {
        *out = static_cast<IPin*>(this);
    } else if (IsEqualIID(id, IID_IMemInputPin)) {
        *out = static_cast<IMemInputPin*>(this);
    } else {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

ULONG STDMETHODCALLTYPE CFaultySink::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&References)); }

ULONG STDMETHODCALLTYPE CFaultySink::Release() {
    const LONG left = InterlockedDecrement(&References);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
}

HRESULT STDMETHODCALLTYPE CFaultySink::ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) {
    if (!connector || !type) return E_POINTER;
    if (Connector) return VFW_E_ALREADY_CONNECTED;
    Connector = connector;
    Connector->AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CFaultySink::Disconnect() {
    if (!Connector) return S_FALSE;
    Connector->Release();
    Connector = nullptr;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CFaultySink::ConnectedTo(IPin** pin) {
    if (!pin) return E_POINTER;
    *pin = Connector;
    if (!Connector) return VFW_E_NOT_CONNECTED;
    Connector->AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CFaultySink::QueryPinInfo(PIN_INFO* info) {
    if (!info) return E_POINTER;
    info->pFilter = nullptr;
    info->dir = PINDIR_INPUT;
    lstrcpynW(info->achName, L"Faulty", MAX_PIN_NAME);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CFaultySink::QueryDirection(PIN_DIRECTION* direction) {
    if (!direction) return E_POINTER;
    *direction = PINDIR_INPUT;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CFaultySink::EndOfStream() {
    {
        std::lock_guard<std::mutex> hold(Mutex);
        ++EndOfStreams;
    }
    Changed();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CFaultySink::GetAllocator(IMemAllocator** allocator) {
    if (!allocator) return E_POINTER;
    *allocator = nullptr;
    if (!Offered) return VFW_E_NO_ALLOCATOR;
    *allocator = Offered;
    Offered->AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CFaultySink::NotifyAllocator(IMemAllocator* allocator, BOOL) {
    if (!allocator) return E_POINTER;
    if (Fault == SinkFault::RefuseAllocators || Fault == SinkFault::FailNotifyAllocator) return E_FAIL;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CFaultySink::Receive(IMediaSample* sample) {
    if (!sample) return E_POINTER;
    {
        std::lock_guard<std::mutex> hold(Mutex);
        ++Receives;
        if (sample->GetActualDataLength() > sample->GetSize()) ++BadSamples;
        if (Fault == SinkFault::HoldSamples) {
            sample->AddRef();
            Held.push_back(sample);
        }
    }
    Changed();
    if (Fault == SinkFault::RefuseSamples) return S_FALSE;
    if (Fault == SinkFault::FailReceive) return E_FAIL;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CFaultySink::ReceiveMultiple(IMediaSample** samples, long count, long* done) {
    if (!samples || !done) return E_POINTER;
    *done = 0;
    for (long i = 0; i < count; ++i) {
        const HRESULT result = Receive(samples[i]);
        if (result != S_OK) return result;
        ++*done;
    }
    return S_OK;
}

bool CFaultySink::WaitFor(const std::function<bool()>& condition, DWORD timeoutMs) {
    std::unique_lock<std::mutex> hold(Mutex);
    return Signal.wait_for(hold, std::chrono::milliseconds(timeoutMs), condition);
}

void CFaultySink::ReleaseHeldSamples() {
    std::vector<IMediaSample*> samples;
    {
        std::lock_guard<std::mutex> hold(Mutex);
        samples.swap(Held);
    }
    for (IMediaSample* sample : samples) sample->Release();
}

void CFaultySink::Changed() { Signal.notify_all(); }
