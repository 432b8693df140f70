// What the filter's two output streams share: the pin's interfaces (its own
// IMediaSeeking and the filter's IFileSourceFilter), the sample clock of a
// segment, quality reports, and the seek handling that repositions the one
// media file for whichever pin a seek reaches first.
//
// The sample clock: sample n of a segment starts at n x SamplePeriod / rate
// (100-ns units), worked out from the count rather than added up in rounded
// steps, and stops where sample n + 1 starts. A rate change goes on from the
// time reached. Quality reports are answered and ignored: stamps moved for
// lateness would take the pictures away from their places, and from the
// sound, for good, while the renderers drop what comes too late themselves.
//
// Owns StreamLock. SrcFilter is the owning filter, held without a reference.
//
// Threads: the worker thread runs FillSample, OnWorkerStart and OnPushStart;
// the connecting thread calls the media-type operations and SizeAllocator
// under the filter's StateLock; downstream threads call Notify; the
// application's thread calls IMediaSeeking and runs the seek hooks.
//
// StreamLock (also the seeking base's SeekLock) guards NextSampleTime and the
// rest of the sample clock, ClearNextSample, PendingDiscontinuity,
// SegmentEpoch, the wait clocks and the derived streams' own fields; it comes
// after the filter's StateLock, PositionLock and RepositionLock and before
// the media file's locks. It is never held while the worker is stopped or
// restarted, since the worker takes it in FillSample. SamplePeriod is fixed
// at construction.
#pragma once

#include "framework/CritLock.h"
#include "framework/SourceSeeking.h"
#include "framework/SourceStream.h"

#include <atomic>
#include <cstdint>

class IMediaFile;
class CSrcFilter;

class CMediaStream : public CSourceStream, public CSourceSeeking {
public:
    // samplePeriod: one sample's length at rate 1.0, in 100-ns units.
    CMediaStream(HRESULT* result, CSrcFilter* filter, const wchar_t* pinName, double samplePeriod);
    ~CMediaStream() override;

    HRESULT STDMETHODCALLTYPE InnerQueryInterface(REFIID id, void** out) override;
    HRESULT SetConnectionType(const CMediaFormat* type) override;
    HRESULT STDMETHODCALLTYPE Notify(IBaseFilter* sender, Quality quality) override;

    HRESULT OnPushStart() override;
    HRESULT OnStartChanged() override;
    HRESULT OnStopChanged() override;

    // Waits for a FillSample in progress on this stream's worker to finish;
    // called by the filter after it has moved to a new file epoch.
    void PassBarrier();

protected:
    // A new start at or past the duration (or before 0) leaves the file, the
    // positions and the workers as they are; the rest is the seeking base's.
    HRESULT SetMediaPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop, DWORD stopFlags) override;
    // Both pins also speak in pictures (TIME_FORMAT_FRAME): picture n is the
    // filter's picture grid's, the duration the library's frame total. The
    // format changes only while the filter is stopped.
    bool OffersTimeFormat(const GUID& format) const override;
    LONGLONG ToMediaTime(const GUID& format, LONGLONG value) const override;
    LONGLONG FromMediaTime(const GUID& format, LONGLONG media) const override;
    HRESULT CheckTimeFormatChange() override;

    // Whether a playback rate can pace the samples: above 0.1 and finite
    // (NaN and infinity would turn the sample times into garbage).
    static bool UsableRate(double rate);
    // Worker, under StreamLock: true while the file has moved for a seek that
    // has not reached this pin yet; the worker takes no data meanwhile, so
    // nothing of the new position goes out in the old segment. When the seek
    // never comes (only the other pin was seeked) it gives up after a bound
    // and carries on.
    bool HoldForOwnSeek();
    // Worker, under StreamLock: starts or checks the clock of a wait for data;
    // true once the wait has lasted NoDataLimitMs.
    bool NoDataForTooLong();
    void NoteDataArrived() { NoDataSince = 0; }
    // Worker, under StreamLock: the next sample is the first of a segment.
    void RestartClock();
    // Worker, under StreamLock: stamps the sample with NextSampleTime and the
    // following start (see the sample clock above), marks it a sync point
    // and, first in a segment, a discontinuity.
    void StampSample(IMediaSample* sample);
    // Worker, when pushing ended for good: whether the stream has stopped
    // reading the file, so that what it would read must not hold decoding
    // back. Not when a delivery was refused by this stream's own restart for
    // a seek (the flush) or by a downstream filter stopped ahead of this one
    // (VFW_E_WRONG_STATE): the stream reads on after both.
    bool StoppedReading(HRESULT reason) const;

    // Stops and restarts the worker (when it runs), flushing downstream; with
    // reposition, the file is moved to start while the worker is stopped
    // (the result is the move's).
    HRESULT RestartWorker(bool reposition, REFERENCE_TIME start);

    static constexpr DWORD NoDataLimitMs = 10000;

    CSrcFilter* const SrcFilter;
    CCritLock StreamLock;
    const double SamplePeriod;
    LONG PendingDiscontinuity = 0;
    REFERENCE_TIME NextSampleTime = 0;
    // Samples stamped in the segment; the count, time and rate from which
    // the current rate paces them.
    int64_t SamplesStamped = 0;
    int64_t RateSinceSample = 0;
    REFERENCE_TIME RateSinceTime = 0;
    double StampRate = 1.0;
    BYTE ClearNextSample = 1;
    uint32_t SegmentEpoch = 0;
    DWORD NoDataSince = 0;
    // Set by RestartWorker from before its flush until the worker is asked to
    // run again; read by the worker in OnPushEnd.
    std::atomic<bool> Restarting{false};
};
