// A Sample Grabber callback that watches a stream without keeping anything:
// it counts samples, notes when the first sample of a new segment arrives
// after Arm, and runs a hook when the count reaches chosen marks.
//
// Threads: SampleCB runs on the source's worker thread; everything else on
// the bench's thread. The counts and instants are atomics; the hook and the
// marks are set before the graph runs and only read afterwards. Not
// reference counted: it outlives every graph it is given to.
#pragma once

#include <windows.h>
#include <qedit.h>

#include <atomic>
#include <cstdint>
#include <functional>

class CSampleTap : public ISampleGrabberCB {
public:
    CSampleTap();
    ~CSampleTap();
    CSampleTap(const CSampleTap&) = delete;
    CSampleTap& operator=(const CSampleTap&) = delete;

    // Called on the worker with the count reached, at each of the two marks.
    void SetMarks(uint32_t first, uint32_t second, std::function<void(uint32_t)> hook);
    uint32_t Count() const { return Samples.load(); }
    // Waits (bounded) until at least count samples have passed.
    bool WaitForCount(uint32_t count, DWORD timeoutMs);
    // Watches for the next sample that starts a segment.
    void Arm();
    // Waits (bounded) for it; its arrival instant in performance-counter ticks.
    bool WaitForSegmentStart(DWORD timeoutMs, int64_t* ticks);

    STDMETHODIMP QueryInterface(REFIID iid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP SampleCB(double time, IMediaSample* sample) override;
    STDMETHODIMP BufferCB(double time, BYTE* buffer, long length) override;

private:
    std::atomic<uint32_t> Samples{0};
    std::atomic<bool> Armed{false};
    std::atomic<int64_t> SegmentTicks{0};
    HANDLE SegmentEvent;   // auto-reset: a watched segment start arrived
    HANDLE CountEvent;     // auto-reset: the count a waiter wants was reached
    std::atomic<uint32_t> WantedCount{0xFFFFFFFFu};
    uint32_t FirstMark = 0;
    uint32_t SecondMark = 0;
    std::function<void(uint32_t)> Hook;
};
