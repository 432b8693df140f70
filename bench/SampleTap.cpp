#include "bench/SampleTap.h"

#include "bench/Stopwatch.h"
#include "recording/TestPattern.h"

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

void CSampleTap::CheckContent(TapContent content, uint32_t width, uint32_t height) {
    Content = content;
    Width = width;
    Height = height;
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

void CSampleTap::CheckInOrder(IMediaSample* sample) {
    BYTE* data = nullptr;
    const long length = sample->GetActualDataLength();
    if (length <= 0 || FAILED(sample->GetPointer(&data))) return;
    if (Content == TapContent::TestPictures) {
        kxrec::TestPictureId id{};
        if (static_cast<uint64_t>(length) < static_cast<uint64_t>(Width) * Height * 2 ||
            !kxrec::CheckTestPicture(data, Width, Height, Width * 2u, &id)) {
            return;
        }
        if (id.frameNumber == NextPicture) ++InOrderCount;
        NextPicture = id.frameNumber + 1;
    } else {
        uint32_t first = 0;
        if (!kxrec::CheckTone(data, static_cast<size_t>(length), &first)) return;
        if (first == NextToneSample) InOrderCount += static_cast<uint64_t>(length);
        NextToneSample = first + static_cast<uint32_t>(length) / 2;
    }
}

STDMETHODIMP CSampleTap::SampleCB(double, IMediaSample* sample) {
    const int64_t now = CStopwatch::Ticks();
    LastSampleTicks = now;
    if (sample) {
        const long length = sample->GetActualDataLength();
        if (length > 0) ByteCount += static_cast<uint64_t>(length);
        if (Content != TapContent::Unchecked) CheckInOrder(sample);
    }
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
