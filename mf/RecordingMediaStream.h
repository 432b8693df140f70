// One stream of the Media Foundation source, the pictures or the sound: its
// descriptor and event queue (MF's own), the sample requests it holds, and
// what it takes from the media file and how it stamps it.
//
// Sample times are the source filter's pins' (filter/MediaStream.h): sample
// n of a segment starts at the segment's start + n x period (the exact
// picture period, or 50 ms of sound), rounded from the count, and lasts
// until sample n + 1 starts; the first of a segment is a discontinuity.
//
// Owns its event queue and the request tokens; holds a reference to the
// source for its whole life: a reader may call a stream after the source's
// Shutdown and after the application let go of the source, and every call
// looks at the source's lock and state. The source lets go of its streams at
// Shutdown, so no cycle outlives it.
//
// Threads: RequestSample and the event generator on any thread; TakeNext,
// the segment, the end decisions and the buffer pool on the source's
// delivery thread only.
// Locks: the source's SourceLock guards Active, Requests, Held, EndDecided,
// EndSent and Failed; the delivery thread's own fields (the clock, the
// no-data clock) need none.
#pragma once

#include "framework/Unknown.h"
#include "reader/IMediaFile.h"

#include <mfidl.h>
#include <wrl/client.h>

#include <deque>
#include <vector>

class CRecordingMediaSource;

class CRecordingMediaStream : public CUnknown, public IMFMediaStream {
public:
    enum class Kind { Pictures, Sound };
    // What a delivery attempt came to.
    enum class Take { Sample, Wait, End, Fail };

    // period: one sample's length in 100-ns units; sampleBytes: one sample.
    CRecordingMediaStream(CRecordingMediaSource* source, IMFStreamDescriptor* descriptor, Kind kind,
                          double period, DWORD sampleBytes, HRESULT* result);

    KX_FORWARD_UNKNOWN_TO_OUTER
    HRESULT STDMETHODCALLTYPE InnerQueryInterface(REFIID id, void** out) override;

    // IMFMediaEventGenerator
    HRESULT STDMETHODCALLTYPE GetEvent(DWORD flags, IMFMediaEvent** event) override;
    HRESULT STDMETHODCALLTYPE BeginGetEvent(IMFAsyncCallback* callback, IUnknown* state) override;
    HRESULT STDMETHODCALLTYPE EndGetEvent(IMFAsyncResult* result, IMFMediaEvent** event) override;
    HRESULT STDMETHODCALLTYPE QueueEvent(MediaEventType type, REFGUID extendedType, HRESULT status,
                                         const PROPVARIANT* value) override;
    // IMFMediaStream
    HRESULT STDMETHODCALLTYPE GetMediaSource(IMFMediaSource** source) override;
    HRESULT STDMETHODCALLTYPE GetStreamDescriptor(IMFStreamDescriptor** descriptor) override;
    HRESULT STDMETHODCALLTYPE RequestSample(IUnknown* token) override;

    Kind StreamKind() const { return What; }

    // Source, SourceLock held.
    bool IsActive() const { return Active; }
    void SetActive(bool active) { Active = active; }
    bool HasRequest() const { return !Requests.empty() && !EndSent && !Failed; }
    bool Finished() const { return EndSent || Failed; }
    // Stop: the requests go, and a sample taken for them.
    void DropRequests() {
        Requests.clear();
        Held.Reset();
    }
    // A segment from start (a start or a seek): the end is open again, unless
    // atEnd (a start at or past the duration) decides it at once.
    void BeginSegment(REFERENCE_TIME start, bool atEnd);
    // The oldest request's token, handed on with what answers it.
    Microsoft::WRL::ComPtr<IUnknown> TakeRequest();
    // Sends the sample for the oldest request / the end in answer to it /
    // MEError; all three use one request.
    void SendSample(IMFSample* sample);
    void SendEnd();
    void SendError(HRESULT error);
    bool EndIsDecided() const { return EndDecided; }
    void DecideEnd() { EndDecided = true; }

    // Delivery thread, no lock: the next picture or piece of sound, stamped;
    // Wait while more can come; End once the stream's end is decided (as the
    // filter's pins decide it); Fail with the cause in *error.
    Take TakeNext(IMediaFile* file, IMFSample** sample, HRESULT* error);
    // SourceLock held: a sample taken ahead of its request (or while the
    // source paused), sent first at the next request.
    void Hold(IMFSample* sample) { Held = sample; }
    bool IsHolding() const { return Held != nullptr; }
    Microsoft::WRL::ComPtr<IMFSample> TakeHeld() { return std::move(Held); }
    // Shutdown: the queue ends, the requests go.
    void Close();

private:
    ~CRecordingMediaStream() override;
    Take TakePicture(IMediaFile* file, IMFMediaBuffer* buffer, HRESULT* error);
    Take TakeSound(IMediaFile* file, IMFMediaBuffer* buffer, HRESULT* error);
    bool NoDataForTooLong();
    HRESULT Stamp(IMFSample* sample);
    // A buffer of SampleBytes that no sample holds any more, else a new one
    // (kept for reuse while the pool has room): fresh memory for every large
    // picture would cost its pages' first touch each time.
    HRESULT FreeBuffer(IMFMediaBuffer** buffer);

    static constexpr DWORD NoDataLimitMs = 10000;
    static constexpr size_t PoolBuffers = 8;

    const Kind What;
    const double Period;
    const DWORD SampleBytes;
    Microsoft::WRL::ComPtr<IMFMediaSource> Source;
    CRecordingMediaSource* const Owner;
    Microsoft::WRL::ComPtr<IMFStreamDescriptor> Descriptor;
    Microsoft::WRL::ComPtr<IMFMediaEventQueue> Events;

    bool Active = false;
    std::deque<Microsoft::WRL::ComPtr<IUnknown>> Requests;
    bool EndDecided = false;
    bool EndSent = false;
    bool Failed = false;

    Microsoft::WRL::ComPtr<IMFSample> Held;
    std::vector<Microsoft::WRL::ComPtr<IMFMediaBuffer>> Pool;
    REFERENCE_TIME SegmentStart = 0;
    int64_t SamplesInSegment = 0;
    DWORD NoDataSince = 0;
};
