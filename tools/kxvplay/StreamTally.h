// Counts what one source pin delivers, as a Sample Grabber callback: samples,
// bytes, and the gaps and repeats in the time stamps (a start other than the
// previous sample's stop).
// Samples stamped at or after the limit are past the wanted range: they are
// not counted and mark the stream as done.
//
// Reference counted: the Sample Grabber holds the callback until the graph
// is torn down, which may be after the command has finished with it.
// SampleCB runs on the source pin's worker thread; the other operations on
// the main thread. Lock guards every field below it; the sample handler is
// called under Lock, so it never sees two samples of its stream at once.
#pragma once

#include "common/KXPlayApi.h"

#include <qedit.h>
#include <windows.h>
#include <wrl/client.h>

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

struct TallyCounts {
    uint64_t Samples = 0;
    uint64_t Bytes = 0;
    uint64_t Gaps = 0;
    uint64_t Repeats = 0;
    uint64_t AudibleSamples = 0;   // samples with any non-zero byte
    REFERENCE_TIME LastEnd = 0;    // stop stamp of the last counted sample
    bool ReachedLimit = false;
};

class CStreamTally final : public ISampleGrabberCB {
public:
    enum class Kind { Video, Audio };
    // The source's sound: the library's rate, mono, 16-bit.
    static constexpr double SoundBytesPerSecond = KX_PCM_RATE * 2.0;
    // Called for each counted sample (picture or sound): its index from 0,
    // start stamp, data.
    using SampleHandler = std::function<void(uint64_t index, REFERENCE_TIME start, const BYTE* data, long bytes)>;

    static Microsoft::WRL::ComPtr<CStreamTally> Create(Kind kind, REFERENCE_TIME limit);
    CStreamTally(const CStreamTally&) = delete;
    CStreamTally& operator=(const CStreamTally&) = delete;

    // Set before the graph runs.
    void SetSampleHandler(SampleHandler handler) { Handler = std::move(handler); }

    TallyCounts Counts() const;

    STDMETHODIMP QueryInterface(REFIID id, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP SampleCB(double time, IMediaSample* sample) override;
    STDMETHODIMP BufferCB(double, BYTE*, long) override { return E_NOTIMPL; }

private:
    CStreamTally(Kind kind, REFERENCE_TIME limit);
    ~CStreamTally() = default;

    volatile LONG References = 1;  // interlocked
    const Kind StreamKind;
    const REFERENCE_TIME Limit;
    SampleHandler Handler;
    mutable std::mutex Lock;
    TallyCounts Tally;             // guarded by Lock
};
