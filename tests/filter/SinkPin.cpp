#include "SinkPin.h"

#include <algorithm>

// Wraps the platform's memory allocator and raises every requested buffer
// size to at least MinimumBytes.
class CSinkPin::CGrantingAllocator : public IMemAllocator {
public:
    explicit CGrantingAllocator(long minimumBytes) : MinimumBytes(minimumBytes) {
        CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                         reinterpret_cast<void**>(&Inner));
    }
    virtual ~CGrantingAllocator() {
        if (Inner) Inner->Release();
    }
    CGrantingAllocator(const CGrantingAllocator&) = delete;
    CGrantingAllocator& operator=(const CGrantingAllocator&) = delete;

    bool IsReady() const { return Inner != nullptr; }

    STDMETHODIMP QueryInterface(REFIID id, void** out) override {
        if (!out) return E_POINTER;
        if (IsEqualIID(id, IID_IUnknown) || IsEqualIID(id, IID_IMemAllocator)) {
            *out = static_cast<IMemAllocator*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&References)); }
    STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(InterlockedDecrement(&References)); }
    STDMETHODIMP SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) override {
        ALLOCATOR_PROPERTIES raised = *request;
        raised.cbBuffer = std::max(raised.cbBuffer, MinimumBytes);
        return Inner->SetProperties(&raised, actual);
    }
    STDMETHODIMP GetProperties(ALLOCATOR_PROPERTIES* properties) override { return Inner->GetProperties(properties); }
    STDMETHODIMP Commit() override { return Inner->Commit(); }
    STDMETHODIMP Decommit() override { return Inner->Decommit(); }
    STDMETHODIMP GetBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* stop, DWORD flags) override {
        return Inner->GetBuffer(sample, start, stop, flags);
    }
    STDMETHODIMP ReleaseBuffer(IMediaSample* sample) override { return Inner->ReleaseBuffer(sample); }

private:
    const long MinimumBytes;
    IMemAllocator* Inner = nullptr;
    volatile LONG References = 1;
};

CSinkPin::CSinkPin(CSampleLog* log, long minimumBytes)
    : Log(log), Allocator(new CGrantingAllocator(minimumBytes)) {}

CSinkPin::~CSinkPin() {
    if (Peer) Peer->Release();
    Allocator->Release();
    delete Allocator;
}

STDMETHODIMP CSinkPin::QueryInterface(REFIID id, void** out) {
    if (!out) return E_POINTER;
    if (IsEqualIID(id, IID_IUnknown) || IsEqualIID(id, IID_IPin)) {
        *out = static_cast<IPin*>(this);
        return S_OK;
    }
    if (IsEqualIID(id, IID_IMemInputPin)) {
        *out = static_cast<IMemInputPin*>(this);
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP CSinkPin::ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) {
    if (!connector || !type) return E_POINTER;
    if (Peer) return VFW_E_ALREADY_CONNECTED;
    Peer = connector;
    Peer->AddRef();
    return S_OK;
}

STDMETHODIMP CSinkPin::Disconnect() {
    if (!Peer) return S_FALSE;
    Peer->Release();
    Peer = nullptr;
    return S_OK;
}

STDMETHODIMP CSinkPin::ConnectedTo(IPin** pin) {
    if (!pin) return E_POINTER;
    *pin = Peer;
    if (!Peer) return VFW_E_NOT_CONNECTED;
    Peer->AddRef();
    return S_OK;
}

STDMETHODIMP CSinkPin::QueryPinInfo(PIN_INFO* info) {
    if (!info) return E_POINTER;
    info->pFilter = nullptr;
    info->dir = PINDIR_INPUT;
    lstrcpynW(info->achName, L"Sink", MAX_PIN_NAME);
    return S_OK;
}

STDMETHODIMP CSinkPin::QueryDirection(PIN_DIRECTION* direction) {
    if (!direction) return E_POINTER;
    *direction = PINDIR_INPUT;
    return S_OK;
}

STDMETHODIMP CSinkPin::EndOfStream() {
    InterlockedIncrement(&EndsOfStream);
    return S_OK;
}

STDMETHODIMP CSinkPin::GetAllocator(IMemAllocator** allocator) {
    if (!allocator) return E_POINTER;
    if (!Allocator->IsReady()) return VFW_E_NO_ALLOCATOR;
    *allocator = Allocator;
    Allocator->AddRef();
    return S_OK;
}

void CSinkPin::ReportLateness(REFERENCE_TIME late, bool alternate) {
    Late = late;
    Alternate = alternate;
}

STDMETHODIMP CSinkPin::Receive(IMediaSample* sample) {
    const HRESULT hr = Log->SampleCB(0, sample);
    IQualityControl* quality = nullptr;
    if (Late != 0 && Peer && SUCCEEDED(Peer->QueryInterface(IID_IQualityControl, reinterpret_cast<void**>(&quality)))) {
        REFERENCE_TIME start = 0, stop = 0;
        sample->GetTime(&start, &stop);
        const REFERENCE_TIME late = Alternate && Reports++ % 2 == 1 ? -Late : Late;
        if (quality->Notify(nullptr, Quality{Famine, 1000, late, start}) != S_OK) InterlockedIncrement(&Refused);
        quality->Release();
    }
    return hr;
}

STDMETHODIMP CSinkPin::ReceiveMultiple(IMediaSample** samples, long count, long* done) {
    for (long i = 0; i < count; ++i) Receive(samples[i]);
    if (done) *done = count;
    return S_OK;
}
