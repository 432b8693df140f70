#include "SampleLog.h"

#include <chrono>
#include <cstring>

HRESULT STDMETHODCALLTYPE CSampleLog::QueryInterface(REFIID id, void** out) {
    if (!out) return E_POINTER;
    if (IsEqualGUID(id, IID_IUnknown) || IsEqualGUID(id, IID_ISampleGrabberCB)) {
        *out = static_cast<ISampleGrabberCB*>(this);
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

HRESULT STDMETHODCALLTYPE CSampleLog::SampleCB(double, IMediaSample* sample) {
    BYTE* data = nullptr;
    LONG number = -1;
    if (SUCCEEDED(sample->GetPointer(&data)) && sample->GetActualDataLength() >= 4) {
        std::memcpy(&number, data, sizeof number);
    }
    std::lock_guard<std::mutex> hold(Mutex);
    Seen.push_back(number);
    if (HoldSamples) {
        sample->AddRef();
        Held.push_back(sample);
    }
    Signal.notify_all();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CSampleLog::BufferCB(double, BYTE*, long) {
    return E_NOTIMPL;
}

CSampleLog::~CSampleLog() {
    ReleaseHeldSamples();
}

bool CSampleLog::WaitForCount(size_t count, DWORD timeoutMs) {
    std::unique_lock<std::mutex> hold(Mutex);
    return Signal.wait_for(hold, std::chrono::milliseconds(timeoutMs), [&] { return Seen.size() >= count; });
}

std::vector<LONG> CSampleLog::Numbers() {
    std::lock_guard<std::mutex> hold(Mutex);
    return Seen;
}

void CSampleLog::Clear() {
    std::lock_guard<std::mutex> hold(Mutex);
    Seen.clear();
}

void CSampleLog::ReleaseHeldSamples() {
    std::vector<IMediaSample*> samples;
    {
        std::lock_guard<std::mutex> hold(Mutex);
        samples.swap(Held);
    }
    for (IMediaSample* sample : samples) sample->Release();
}
