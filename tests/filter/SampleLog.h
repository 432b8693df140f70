// Receives every sample a Sample Grabber passes on (on the filter's worker
// thread) and keeps what a test needs to judge it: times, flags, length and
// which test picture or which run of tone samples it carries.
// Any thread may read; Entries is guarded by Lock, Arrived signals each entry.
#pragma once

#include <qedit.h>
#include <windows.h>

#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

struct DeliveredSample {
    REFERENCE_TIME Start = 0;
    REFERENCE_TIME Stop = 0;
    bool HasTime = false;
    bool Discontinuity = false;
    long Bytes = 0;          // actual data length
    long BufferBytes = 0;    // buffer size
    int64_t Frame = -1;      // video: frame number of a whole test picture, else -1
    int64_t FirstTone = -1;  // audio: index of the first tone sample, else -1
    bool Silent = false;     // audio: every byte of the data is zero
};

class CSampleLog : public ISampleGrabberCB {
public:
    enum class Kind { Video, Audio };
    // Pictures are checked as Width x Height test pictures.
    CSampleLog(Kind kind, uint32_t width = 0, uint32_t height = 0);
    ~CSampleLog();
    CSampleLog(const CSampleLog&) = delete;
    CSampleLog& operator=(const CSampleLog&) = delete;

    STDMETHODIMP QueryInterface(REFIID id, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP SampleCB(double time, IMediaSample* sample) override;
    STDMETHODIMP BufferCB(double, BYTE*, long) override { return E_NOTIMPL; }

    // Fills in what the data carries (length, picture or tone), for samples
    // that come by other ways too (Media Foundation's).
    void Judge(const BYTE* data, long bytes, long bufferBytes, DeliveredSample* entry) const;

    std::vector<DeliveredSample> Snapshot() const;
    size_t Count() const;
    // Waits until at least count samples were logged; false after timeoutMs.
    bool WaitForCount(size_t count, DWORD timeoutMs) const;
    // Waits until a sample at index >= from carries the discontinuity mark;
    // stores its index. False after timeoutMs.
    bool WaitForDiscontinuity(size_t from, DWORD timeoutMs, size_t* index) const;
    // From Hold on, every sample is kept (a reference held) as a renderer
    // would keep it, until ReleaseHold gives them all back.
    void Hold();
    void ReleaseHold();
    void SetPictureSize(uint32_t width, uint32_t height);

private:
    bool WaitUntil(DWORD timeoutMs, const std::function<bool()>& done) const;

    const Kind StreamKind;
    uint32_t Width;
    uint32_t Height;
    mutable std::mutex Lock;
    std::vector<DeliveredSample> Entries;
    bool Holding = false;              // guarded by Lock
    std::vector<IMediaSample*> Held;   // guarded by Lock; one reference each
    HANDLE Arrived;    // auto reset
};
