#include "SampleLog.h"

#include "recording/TestPattern.h"

#include <algorithm>

CSampleLog::CSampleLog(Kind kind, uint32_t width, uint32_t height)
    : StreamKind(kind), Width(width), Height(height), Arrived(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

CSampleLog::~CSampleLog() {
    ReleaseHold();
    CloseHandle(Arrived);
}

STDMETHODIMP CSampleLog::QueryInterface(REFIID id, void** out) {
    if (!out) return E_POINTER;
    if (IsEqualIID(id, IID_IUnknown) || IsEqualIID(id, IID_ISampleGrabberCB)) {
        *out = static_cast<ISampleGrabberCB*>(this);
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP CSampleLog::SampleCB(double, IMediaSample* sample) {
    DeliveredSample entry;
    entry.HasTime = sample->GetTime(&entry.Start, &entry.Stop) == S_OK;
    entry.Discontinuity = sample->IsDiscontinuity() == S_OK;
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    Judge(data, sample->GetActualDataLength(), sample->GetSize(), &entry);
    {
        std::lock_guard<std::mutex> hold(Lock);
        Entries.push_back(entry);
        if (Holding) {
            sample->AddRef();
            Held.push_back(sample);
        }
    }
    SetEvent(Arrived);
    return S_OK;
}

void CSampleLog::Judge(const BYTE* data, long bytes, long bufferBytes, DeliveredSample* entry) const {
    entry->Bytes = bytes;
    entry->BufferBytes = bufferBytes;
    uint32_t width, height;
    {
        std::lock_guard<std::mutex> hold(Lock);
        width = Width;
        height = Height;
    }
    if (data && StreamKind == Kind::Video) {
        kxrec::TestPictureId id{};
        if (static_cast<uint64_t>(entry->BufferBytes) >= uint64_t{width} * height * 2 &&
            kxrec::CheckTestPicture(data, width, height, width * 2, &id)) {
            entry->Frame = id.frameNumber;
        }
    } else if (data) {
        uint32_t first = 0;
        if (kxrec::CheckTone(data, static_cast<size_t>(entry->Bytes), &first)) entry->FirstTone = first;
        entry->Silent = std::all_of(data, data + entry->Bytes, [](BYTE b) { return b == 0; });
    }
}

std::vector<DeliveredSample> CSampleLog::Snapshot() const {
    std::lock_guard<std::mutex> hold(Lock);
    return Entries;
}

size_t CSampleLog::Count() const {
    std::lock_guard<std::mutex> hold(Lock);
    return Entries.size();
}

bool CSampleLog::WaitUntil(DWORD timeoutMs, const std::function<bool()>& done) const {
    const DWORD begin = GetTickCount();
    for (;;) {
        if (done()) return true;
        const DWORD spent = GetTickCount() - begin;
        if (spent >= timeoutMs) return false;
        WaitForSingleObject(Arrived, timeoutMs - spent);
    }
}

bool CSampleLog::WaitForCount(size_t count, DWORD timeoutMs) const {
    return WaitUntil(timeoutMs, [&] { return Count() >= count; });
}

bool CSampleLog::WaitForDiscontinuity(size_t from, DWORD timeoutMs, size_t* index) const {
    return WaitUntil(timeoutMs, [&] {
        std::lock_guard<std::mutex> hold(Lock);
        for (size_t i = from; i < Entries.size(); ++i) {
            if (Entries[i].Discontinuity) {
                *index = i;
                return true;
            }
        }
        return false;
    });
}

void CSampleLog::Hold() {
    std::lock_guard<std::mutex> hold(Lock);
    Holding = true;
}

void CSampleLog::ReleaseHold() {
    std::vector<IMediaSample*> held;
    {
        std::lock_guard<std::mutex> hold(Lock);
        Holding = false;
        held.swap(Held);
    }
    for (IMediaSample* sample : held) sample->Release();
}

void CSampleLog::SetPictureSize(uint32_t width, uint32_t height) {
    std::lock_guard<std::mutex> hold(Lock);
    Width = width;
    Height = height;
}
