#include "bench/SampleTap.h"

#include "bench/Stopwatch.h"

CSampleTap::CSampleTap()
    : SegmentEvent(CreateEventW(nullptr, FALSE, FALSE, nullptr)), CountEvent(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

CSampleTap::~CSampleTap() {
    if (SegmentEvent) CloseHandle(SegmentEvent);
    if (CountEvent) CloseHandle(CountEvent);
}

void CSampleTap::SetMarks(uint32_t first, uint32_t second, std::function<void(uint32_t)> hook) {
    FirstMark = first;
    SecondMark = second;
    Hook = std::move(hook);
}

bool CSampleTap::WaitForCount(uint32_t count, DWORD timeoutMs) {
    const DWORD begin = GetTickCount();
    WantedCount = count;
    while (Samples.load() < count) {
        const DWORD spent = GetTickCount() - begin;
        if (spent >= timeoutMs) return false;
        WaitForSingleObject(CountEvent, timeoutMs - spent);
    }
    return true;
}

void CSampleTap::Arm() {
    ResetEvent(SegmentEvent);
    Armed = true;
}

bool CSampleTap::WaitForSegmentStart(DWORD timeoutMs, int64_t* ticks) {
    if (WaitForSingleObject(SegmentEvent, timeoutMs) != WAIT_OBJECT_0) return false;
    *ticks = SegmentTicks.load();
    return true;
}

STDMETHODIMP CSampleTap::QueryInterface(REFIID iid, void** object) {
    if (!object) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_ISampleGrabberCB)) {
        *object = static_cast<ISampleGrabberCB*>(this);
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP CSampleTap::SampleCB(double, IMediaSample* sample) {
    const int64_t now = CStopwatch::Ticks();
    if (Armed.load() && sample && sample->IsDiscontinuity() == S_OK) {
        Armed = false;
        SegmentTicks = now;
        SetEvent(SegmentEvent);
    }
    const uint32_t count = ++Samples;
    if (Hook && (count == FirstMark || count == SecondMark)) Hook(count);
    // Signalled only for a waiter, so that an unwatched tap costs no system call.
    if (count >= WantedCount.load()) SetEvent(CountEvent);
    return S_OK;
}

STDMETHODIMP CSampleTap::BufferCB(double, BYTE*, long) { return E_NOTIMPL; }
