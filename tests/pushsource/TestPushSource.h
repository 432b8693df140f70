// A push source for the tests: one or more streams that each deliver
// numbered samples (the number, 32-bit, at the start of each sample), stamped
// one millisecond apart from the start of the segment. What a stream does is
// set through its PushScript before the filter is paused; the counters tell
// the tests what the worker did.
//
// Each stream seeks in whole samples: a new start of n ms makes the next
// segment begin with sample n. The seek hook restarts the worker under the
// filter's StateLock (flush downstream, CommandStop, end flush, CommandRun),
// so that a restart never overlaps the filter's own Deactivate.
//
// Threads: the test's threads set the script while the filter is stopped and
// call Supply at any time; the worker runs FillSample and the hooks.
#pragma once

#include "framework/Source.h"
#include "framework/SourceSeeking.h"
#include "framework/SourceStream.h"

#include <atomic>
#include <memory>

// {5E1F0A2B-7C3D-4E5F-8A9B-0C1D2E3F4A5B}
static const GUID MEDIATYPE_KxTestNumbers = {0x5e1f0a2b, 0x7c3d, 0x4e5f, {0x8a, 0x9b, 0x0c, 0x1d, 0x2e, 0x3f, 0x4a, 0x5b}};
// {5E1F0A2C-7C3D-4E5F-8A9B-0C1D2E3F4A5B}
static const CLSID CLSID_KxTestPushSource = {0x5e1f0a2c, 0x7c3d, 0x4e5f, {0x8a, 0x9b, 0x0c, 0x1d, 0x2e, 0x3f, 0x4a, 0x5b}};

constexpr REFERENCE_TIME TestSampleTime = 10000;  // 1 ms

struct PushScript {
    LONG TotalSamples = 40;          // numbers 0 .. TotalSamples-1, then end of stream
    LONG FailAt = -1;                // FillSample answers FailCode for this number
    HRESULT FailCode = E_FAIL;
    bool Slow = false;               // one sample per Supply, S_NODATAYET meanwhile
    HRESULT WorkerStartResult = S_OK;
    int RefuseSizing = 0;            // SizeAllocator refuses this many calls
    HRESULT RefusalCode = E_FAIL;
    long BufferCount = 4;
    long BufferSize = 64;
};

class CTestPushSource;

class CTestPushStream : public CSourceStream, public CSourceSeeking {
public:
    CTestPushStream(HRESULT* result, CTestPushSource* owner, const wchar_t* name);

    HRESULT STDMETHODCALLTYPE InnerQueryInterface(REFIID id, void** out) override;

    HRESULT FillSample(IMediaSample* sample) override;
    HRESULT OnWorkerStart() override;
    HRESULT OnPushStart() override;
    HRESULT StreamMediaType(CMediaFormat* type) override;
    HANDLE DataWaitHandle() override;
    HRESULT SizeAllocator(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;

    HRESULT OnStartChanged() override;
    HRESULT OnStopChanged() override;
    HRESULT OnRateChanged() override;

    // Lets a slow stream fill count more samples.
    void Supply(LONG count);
    // Bounded wait for the next S_NODATAYET answer after the call.
    bool WaitForNoDataAnswer(DWORD timeoutMs = 10000);

    PushScript Script;
    std::atomic<LONG> Filled{0};        // samples filled with data
    std::atomic<LONG> PushStarts{0};
    std::atomic<LONG> SizingCalls{0};
    std::atomic<LONG> Restarts{0};
    ALLOCATOR_PROPERTIES FirstRequest = {};  // as SizeAllocator first saw it
    IMemAllocator* LastSized = nullptr;      // no reference; identity only

    // Samples whose FillSample may finish; only read in slow mode.
    std::atomic<LONG> Budget{0};

private:
    CCritLock StreamLock;  // guards NextNumber; after StateLock
    LONG NextNumber = 0;
    std::unique_ptr<void, decltype(&CloseHandle)> SupplyEvent;
    std::unique_ptr<void, decltype(&CloseHandle)> NoDataEvent;  // set at each S_NODATAYET
};

class CTestPushSource : public CSource {
public:
    // One reference for the caller, or null.
    static CTestPushSource* Create(int streams);

    CTestPushStream* Stream(int index) { return static_cast<CTestPushStream*>(PinByIndex(index)); }
    IBaseFilter* Filter() { return static_cast<IBaseFilter*>(this); }
    CCritLock* Lock() { return &StateLock; }

private:
    CTestPushSource();
};
