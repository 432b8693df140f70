#include "HandSink.h"

#include <uuids.h>
#include <vfwmsgs.h>

#include <cstring>

CHandSink::CHandSink() = default;

CHandSink::~CHandSink() {
    ReleaseHeldSamples();
    if (Notified) Notified->Release();
    if (Own) Own->Release();
    if (Connector) Connector->Release();
}

HRESULT STDMETHODCALLTYPE CHandSink::QueryInterface(REFIID id, void** out) {
    if (!out) return E_POINTER;
    if (IsEqualGUID(id, IID_IUnknown) || IsEqualGUID(id, IID_IPin)) {
        *out = static_cast<IPin*>(this);
    } else if (IsEqualGUID(id, IID_IMemInputPin)) {
        *out = static_cast<IMemInputPin*>(this);
    } else {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

ULONG STDMETHODCALLTYPE CHandSink::AddRef() {
    return static_cast<ULONG>(InterlockedIncrement(&RefCount));
}

ULONG STDMETHODCALLTYPE CHandSink::Release() {
    const LONG count = InterlockedDecrement(&RefCount);
    if (count == 0) delete this;
    return static_cast<ULONG>(count);
}

HRESULT STDMETHODCALLTYPE CHandSink::Connect(IPin*, const AM_MEDIA_TYPE*) {
    return E_UNEXPECTED;
}

HRESULT STDMETHODCALLTYPE CHandSink::ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE*) {
    std::lock_guard<std::mutex> hold(Mutex);
    if (Connector) return VFW_E_ALREADY_CONNECTED;
    Connector = connector;
    Connector->AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CHandSink::Disconnect() {
    std::lock_guard<std::mutex> hold(Mutex);
    ++DisconnectCalls;
    if (!Connector) return S_FALSE;
    Connector->Release();
    Connector = nullptr;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CHandSink::ConnectedTo(IPin** pin) {
    if (!pin) return E_POINTER;
    std::lock_guard<std::mutex> hold(Mutex);
    *pin = Connector;
    if (!Connector) return VFW_E_NOT_CONNECTED;
    Connector->AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CHandSink::ConnectionMediaType(AM_MEDIA_TYPE*) {
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE CHandSink::QueryPinInfo(PIN_INFO* info) {
    if (!info) return E_POINTER;
    info->pFilter = nullptr;
    info->dir = PINDIR_INPUT;
    info->achName[0] = L'\0';
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CHandSink::QueryDirection(PIN_DIRECTION* direction) {
    if (!direction) return E_POINTER;
    *direction = PINDIR_INPUT;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CHandSink::QueryId(LPWSTR*) {
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE CHandSink::QueryAccept(const AM_MEDIA_TYPE*) {
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CHandSink::EnumMediaTypes(IEnumMediaTypes**) {
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE CHandSink::QueryInternalConnections(IPin**, ULONG*) {
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE CHandSink::EndOfStream() {
    std::lock_guard<std::mutex> hold(Mutex);
    ++EndOfStreams;
    Changed();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CHandSink::BeginFlush() {
    std::lock_guard<std::mutex> hold(Mutex);
    ++BeginFlushes;
    Changed();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CHandSink::EndFlush() {
    std::lock_guard<std::mutex> hold(Mutex);
    ++EndFlushes;
    Changed();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CHandSink::NewSegment(REFERENCE_TIME start, REFERENCE_TIME, double) {
    std::lock_guard<std::mutex> hold(Mutex);
    SegmentStarts.push_back(start);
    Changed();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CHandSink::GetAllocator(IMemAllocator** allocator) {
    if (!allocator) return E_POINTER;
    *allocator = nullptr;
    if (!OfferOwnAllocator) return VFW_E_NO_ALLOCATOR;
    if (!Own) {
        const HRESULT result = CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER,
                                                IID_IMemAllocator, reinterpret_cast<void**>(&Own));
        if (FAILED(result)) return result;
    }
    *allocator = Own;
    Own->AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CHandSink::NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) {
    std::lock_guard<std::mutex> hold(Mutex);
    allocator->AddRef();
    if (Notified) Notified->Release();
    Notified = allocator;
    NotifiedReadOnly = readOnly;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CHandSink::GetAllocatorRequirements(ALLOCATOR_PROPERTIES* props) {
    if (!props) return E_POINTER;
    if (SUCCEEDED(RequirementsResult)) *props = Requirements;
    return RequirementsResult;
}

HRESULT STDMETHODCALLTYPE CHandSink::Receive(IMediaSample* sample) {
    std::lock_guard<std::mutex> hold(Mutex);
    if (RefuseFrom >= 0 && Receives >= RefuseFrom) {
        ++Receives;
        Changed();
        return RefusalResult;
    }
    ++Receives;
    BYTE* data = nullptr;
    LONG number = -1;
    if (SUCCEEDED(sample->GetPointer(&data)) && sample->GetActualDataLength() >= 4) {
        std::memcpy(&number, data, sizeof number);
    }
    Numbers.push_back(number);
    if (HoldSamples) {
        sample->AddRef();
        Held.push_back(sample);
    }
    Changed();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CHandSink::ReceiveMultiple(IMediaSample** samples, long count, long* processed) {
    *processed = 0;
    for (long i = 0; i < count; ++i) {
        const HRESULT result = Receive(samples[i]);
        if (result != S_OK) return result;
        ++*processed;
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CHandSink::ReceiveCanBlock() {
    return S_FALSE;
}

bool CHandSink::WaitFor(const std::function<bool()>& condition, DWORD timeoutMs) {
    std::unique_lock<std::mutex> hold(Mutex);
    return Signal.wait_for(hold, std::chrono::milliseconds(timeoutMs), condition);
}

void CHandSink::ReleaseHeldSamples() {
    std::vector<IMediaSample*> samples;
    {
        std::lock_guard<std::mutex> hold(Mutex);
        samples.swap(Held);
    }
    for (IMediaSample* sample : samples) sample->Release();
}

void CHandSink::Changed() {
    Signal.notify_all();
}
