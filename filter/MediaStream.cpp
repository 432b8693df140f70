#include "filter/MediaStream.h"

#include "filter/SrcFilter.h"
#include "framework/ScopedLock.h"

#include <uuids.h>
#include <vfwmsgs.h>

#include <cmath>

CMediaStream::CMediaStream(HRESULT* result, CSrcFilter* filter, const wchar_t* pinName, double samplePeriod)
    : CSourceStream(nullptr, result, filter, pinName),
      CSourceSeeking(nullptr, static_cast<IPin*>(this), result, &StreamLock),
      SrcFilter(filter),
      SamplePeriod(samplePeriod) {
    CScopedLock hold(&StreamLock);
    const int64_t durationMs = SrcFilter->FetchDurationMs();
    Duration = durationMs * 10000;
    StopPosition = Duration;
    SegmentEpoch = SrcFilter->CurrentFileEpoch();
}

CMediaStream::~CMediaStream() = default;

HRESULT STDMETHODCALLTYPE CMediaStream::InnerQueryInterface(REFIID id, void** out) {
    if (!out) return E_POINTER;
    if (IsEqualIID(id, IID_IFileSourceFilter)) {
        return HandOutInterface(static_cast<IFileSourceFilter*>(SrcFilter), out);
    }
    if (IsEqualIID(id, IID_IMediaSeeking) || IsEqualIID(id, IID_IMediaPosition)) {
        return CSourceSeeking::InnerQueryInterface(id, out);
    }
    return CSourceStream::InnerQueryInterface(id, out);
}

HRESULT CMediaStream::SetConnectionType(const CMediaFormat* type) {
    CScopedLock hold(PinLock);
    return CSourceStream::SetConnectionType(type);
}

HRESULT STDMETHODCALLTYPE CMediaStream::Notify(IBaseFilter*, Quality) {
    return S_OK;
}

HRESULT CMediaStream::SetMediaPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop, DWORD stopFlags) {
    const DWORD positioning = currentFlags & AM_SEEKING_PositioningBitsMask;
    if (current && (positioning == AM_SEEKING_AbsolutePositioning || positioning == AM_SEEKING_RelativePositioning)) {
        REFERENCE_TIME target;
        REFERENCE_TIME duration;
        {
            CScopedLock hold(&StreamLock);
            target = positioning == AM_SEEKING_AbsolutePositioning ? *current : StartPosition + *current;
            duration = Duration;
        }
        // The file cannot be placed there: the seek changes nothing.
        if (target < 0 || target >= duration) currentFlags = AM_SEEKING_NoPositioning;
    }
    return CSourceSeeking::SetMediaPositions(current, currentFlags, stop, stopFlags);
}

bool CMediaStream::OffersTimeFormat(const GUID& format) const {
    return IsEqualGUID(format, TIME_FORMAT_FRAME) != FALSE;
}

LONGLONG CMediaStream::ToMediaTime(const GUID&, LONGLONG value) const {
    return SrcFilter->Pictures().StartOf(value);
}

LONGLONG CMediaStream::FromMediaTime(const GUID&, LONGLONG media) const {
    return SrcFilter->Pictures().PictureAt(media);
}

HRESULT CMediaStream::CheckTimeFormatChange() {
    return SrcFilter->IsStopped() ? S_OK : VFW_E_WRONG_STATE;
}

HRESULT CMediaStream::OnPushStart() {
    REFERENCE_TIME start, stop;
    double rate;
    {
        CScopedLock hold(&StreamLock);
        PendingDiscontinuity = 1;
        ClearNextSample = 1;
        RestartClock();
        NoDataSince = 0;
        SegmentEpoch = SrcFilter->CurrentFileEpoch();
        start = StartPosition;
        stop = StopPosition;
        rate = SeekRate;
    }
    return SendNewSegment(start, stop, rate);
}

HRESULT CMediaStream::OnStopChanged() { return RestartWorker(false, 0); }

HRESULT CMediaStream::OnStartChanged() {
    REFERENCE_TIME start;
    {
        CScopedLock hold(&StreamLock);
        start = StartPosition;
    }
    // The new timeline starts at 0 in the worker itself (OnPushStart after the
    // restart, OnWorkerStart on the next start when stopped). Resetting it here
    // as well, after the restarted worker may already have stamped its first
    // sample, would give the second sample the first one's time.
    HRESULT outcome = S_OK;
    const bool reposition = SrcFilter->ClaimSeek(this, start, &outcome);
    const HRESULT moved = RestartWorker(reposition, start);
    return reposition ? moved : outcome;
}

HRESULT CMediaStream::RestartWorker(bool reposition, REFERENCE_TIME start) {
    // Requests reach the worker only under the filter lock, which a Stop on
    // another thread holds while it ends and joins the worker: a request that
    // slipped in after the worker answered its exit would wait forever. The
    // lock is not held across the reposition, so a Stop waits at most for
    // one of the short request rounds.
    bool flushed = false;
    {
        CScopedLock hold(PinLock);
        if (IsThreadRunning()) {
            Restarting = true;
            SendBeginFlush();
            SendRequest(CommandStop);
            flushed = true;
        }
    }
    const HRESULT moved = reposition ? SrcFilter->RepositionFile(this, start) : S_OK;
    if (flushed) {
        CScopedLock hold(PinLock);
        SendEndFlush();
        if (IsThreadRunning()) SendRequest(CommandRun);
        Restarting = false;
    }
    return moved;
}

void CMediaStream::PassBarrier() {
    CScopedLock hold(&StreamLock);
}

bool CMediaStream::HoldForOwnSeek() {
    const uint32_t epoch = SrcFilter->CurrentFileEpoch();
    if (SegmentEpoch == epoch) return false;
    if (SrcFilter->RepositionInProgress()) return true;
    if (GetTickCount() - SrcFilter->LastRepositionTick() < CSrcFilter::OwnSeekLimitMs) return true;
    SegmentEpoch = epoch;
    return false;
}

bool CMediaStream::StoppedReading(HRESULT reason) const {
    return !Restarting.load() && reason != VFW_E_WRONG_STATE;
}

bool CMediaStream::NoDataForTooLong() {
    const DWORD now = GetTickCount();
    if (NoDataSince == 0) {
        NoDataSince = now ? now : 1;
        return false;
    }
    return now - NoDataSince >= NoDataLimitMs;
}

void CMediaStream::RestartClock() {
    NextSampleTime = 0;
    SamplesStamped = 0;
    RateSinceSample = 0;
    RateSinceTime = 0;
    StampRate = SegmentRate;
}

void CMediaStream::StampSample(IMediaSample* sample) {
    if (SegmentRate != StampRate) {
        RateSinceSample = SamplesStamped;
        RateSinceTime = NextSampleTime;
        StampRate = SegmentRate;
    }
    REFERENCE_TIME start = NextSampleTime;
    ++SamplesStamped;
    NextSampleTime = RateSinceTime + std::llround(static_cast<double>(SamplesStamped - RateSinceSample) *
                                                  SamplePeriod / StampRate);
    sample->SetTime(&start, &NextSampleTime);
    sample->SetSyncPoint(TRUE);
    if (PendingDiscontinuity) {
        sample->SetDiscontinuity(TRUE);
        PendingDiscontinuity = 0;
    }
}

bool CMediaStream::UsableRate(double rate) { return rate > 0.1 && std::isfinite(rate); }
