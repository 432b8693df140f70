// A Sample Grabber callback that watches a stream without keeping anything:
// it counts samples and their bytes, notes when the first sample of a new
// segment arrives after Arm, runs a hook when the count reaches chosen marks,
// and can check that the samples continue the recording's test pictures or
// test tone in order, so that a repeated or silent stand-in for lost content
// is not taken for delivery.
//
// Threads: SampleCB runs on the source's worker thread; everything else on
// the bench's threads. The counts and instants are atomics; the hook, the
// marks and the content check are set before the graph runs and only read
// afterwards; NextPicture and NextToneSample belong to SampleCB. Not
// reference counted: it outlives every graph it is given to.
#pragma once

#include <windows.h>
#include <qedit.h>

#include <atomic>
#include <cstdint>
#include <functional>

// What SampleCB checks in each sample besides counting it.
enum class TapContent { Unchecked, TestPictures, TestTone };

class CSampleTap : public ISampleGrabberCB {
public:
    CSampleTap();
    ~CSampleTap();
    CSampleTap(const CSampleTap&) = delete;
    CSampleTap& operator=(const CSampleTap&) = delete;

    // Called on the worker with the count reached, at each of the two marks.
    void SetMarks(uint32_t first, uint32_t second, std::function<void(uint32_t)> hook);
    // Before the graph runs: test pictures of this size, or the test tone.
    void CheckContent(TapContent content, uint32_t width = 0, uint32_t height = 0);
    uint32_t Count() const { return Samples.load(); }
    uint64_t Bytes() const { return ByteCount.load(); }
    // Pictures that carried the frame number after the previous one (the
    // first: 0), or tone bytes that went on from where the previous sample
    // ended (the first: at sample 0).
    uint64_t InOrder() const { return InOrderCount.load(); }
    // Arrival of the latest sample in performance-counter ticks, 0 before any.
    int64_t LastTicks() const { return LastSampleTicks.load(); }
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
    void CheckInOrder(IMediaSample* sample);

    std::atomic<uint32_t> Samples{0};
    std::atomic<uint64_t> ByteCount{0};
    std::atomic<uint64_t> InOrderCount{0};
    std::atomic<int64_t> LastSampleTicks{0};
    TapContent Content = TapContent::Unchecked;
    uint32_t Width = 0;
    uint32_t Height = 0;
    uint32_t NextPicture = 0;
    uint32_t NextToneSample = 0;
    std::atomic<bool> Armed{false};
    std::atomic<int64_t> SegmentTicks{0};
    HANDLE SegmentEvent;   // auto-reset: a watched segment start arrived
    HANDLE CountEvent;     // auto-reset: the count a waiter wants was reached
    std::atomic<uint32_t> WantedCount{0xFFFFFFFFu};
    uint32_t FirstMark = 0;
    uint32_t SecondMark = 0;
    std::function<void(uint32_t)> Hook;
};
