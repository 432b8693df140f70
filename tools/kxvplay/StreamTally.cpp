#include "StreamTally.h"

#include "common/AdoptReference.h"

#include <algorithm>

CStreamTally::CStreamTally(Kind kind, REFERENCE_TIME limit) : StreamKind(kind), Limit(limit) {}

Microsoft::WRL::ComPtr<CStreamTally> CStreamTally::Create(Kind kind, REFERENCE_TIME limit) {
    return AdoptReference(new CStreamTally(kind, limit));
}

STDMETHODIMP_(ULONG) CStreamTally::AddRef() {
    return static_cast<ULONG>(InterlockedIncrement(&References));
}

STDMETHODIMP_(ULONG) CStreamTally::Release() {
    const LONG left = InterlockedDecrement(&References);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
}

TallyCounts CStreamTally::Counts() const {
    std::lock_guard<std::mutex> hold(Lock);
    return Tally;
}

STDMETHODIMP CStreamTally::QueryInterface(REFIID id, void** out) {
    if (!out) return E_POINTER;
    if (IsEqualIID(id, IID_IUnknown) || IsEqualIID(id, IID_ISampleGrabberCB)) {
        *out = static_cast<ISampleGrabberCB*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP CStreamTally::SampleCB(double, IMediaSample* sample) {
    if (!sample) return E_POINTER;
    REFERENCE_TIME start = 0, stop = 0;
    const bool stamped = SUCCEEDED(sample->GetTime(&start, &stop));
    BYTE* data = nullptr;
    if (FAILED(sample->GetPointer(&data)) || !data) return S_OK;
    const long bytes = std::max(0L, sample->GetActualDataLength());

    std::lock_guard<std::mutex> hold(Lock);
    if (Tally.ReachedLimit) return S_OK;
    if (stamped && start >= Limit) {
        Tally.ReachedLimit = true;
        return S_OK;
    }
    if (Tally.Samples > 0 && stamped) {
        if (start > Tally.LastEnd) ++Tally.Gaps;
        if (start < Tally.LastEnd) ++Tally.Repeats;
    }
    if (StreamKind == Kind::Audio && std::any_of(data, data + bytes, [](BYTE b) { return b != 0; })) {
        ++Tally.AudibleSamples;
    }
    if (Handler) Handler(Tally.Samples, start, data, bytes);
    ++Tally.Samples;
    Tally.Bytes += static_cast<uint64_t>(bytes);
    Tally.LastEnd = stop;
    return S_OK;
}
