// The Sample Grabber's callback: records the number carried by every sample
// that passes and can keep a reference on each (so that the source runs out
// of samples). Called on the source's worker thread; the test's thread waits
// on it, bounded. Mutex guards the records.
#pragma once

#include <windows.h>
#include <qedit.h>

#include <condition_variable>
#include <mutex>
#include <vector>

class CSampleLog : public ISampleGrabberCB {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** out) override;
    // The test owns the log on its stack and outlives the graph.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE SampleCB(double time, IMediaSample* sample) override;
    HRESULT STDMETHODCALLTYPE BufferCB(double time, BYTE* buffer, long length) override;

    ~CSampleLog();

    // Bounded wait until count samples have passed.
    bool WaitForCount(size_t count, DWORD timeoutMs = 10000);
    std::vector<LONG> Numbers();
    void Clear();
    void ReleaseHeldSamples();

    bool HoldSamples = false;

private:
    std::mutex Mutex;
    std::condition_variable Signal;
    std::vector<LONG> Seen;
    std::vector<IMediaSample*> Held;
};
