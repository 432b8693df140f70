#include "framework/SourceSeeking.h"

#include "framework/ScopedLock.h"

#include <uuids.h>

namespace {

bool IsMediaTime(const GUID& format) {
    return IsEqualGUID(format, TIME_FORMAT_MEDIA_TIME) != FALSE;
}

}  // namespace

CSourceSeeking::CSourceSeeking(const char* objectName, IUnknown* outer, HRESULT*, CCritLock* lock)
    : CUnknown(objectName, outer),
      Duration(UnboundedTime),
      StartPosition(0),
      StopPosition(UnboundedTime),
      SeekRate(1.0),
      SeekCapabilities(AM_SEEKING_CanSeekAbsolute | AM_SEEKING_CanSeekForwards | AM_SEEKING_CanSeekBackwards |
                       AM_SEEKING_CanGetStopPos | AM_SEEKING_CanGetDuration),
      SeekLock(lock),
      TimeFormat(TIME_FORMAT_MEDIA_TIME) {}

HRESULT STDMETHODCALLTYPE CSourceSeeking::InnerQueryInterface(REFIID id, void** out) {
    if (!out) return E_POINTER;
    if (IsEqualGUID(id, IID_IMediaSeeking)) return HandOutInterface(static_cast<IMediaSeeking*>(this), out);
    return CUnknown::InnerQueryInterface(id, out);
}

HRESULT STDMETHODCALLTYPE CSourceSeeking::GetCapabilities(DWORD* capabilities) {
    if (!capabilities) return E_POINTER;
    *capabilities = SeekCapabilities;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CSourceSeeking::CheckCapabilities(DWORD* capabilities) {
    if (!capabilities) return E_POINTER;
    return (*capabilities & ~SeekCapabilities) == 0 ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE CSourceSeeking::IsFormatSupported(const GUID* format) {
    if (!format) return E_POINTER;
    return Known(*format) ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE CSourceSeeking::QueryPreferredFormat(GUID* format) {
    if (!format) return E_POINTER;
    *format = TIME_FORMAT_MEDIA_TIME;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CSourceSeeking::GetTimeFormat(GUID* format) {
    if (!format) return E_POINTER;
    *format = FormatInUse();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CSourceSeeking::IsUsingTimeFormat(const GUID* format) {
    if (!format) return E_POINTER;
    return IsEqualGUID(*format, FormatInUse()) ? S_OK : S_FALSE;
}

HRESULT STDMETHODCALLTYPE CSourceSeeking::SetTimeFormat(const GUID* format) {
    if (!format) return E_POINTER;
    if (!Known(*format)) return E_INVALIDARG;
    if (IsEqualGUID(*format, FormatInUse())) return S_OK;
    const HRESULT allowed = CheckTimeFormatChange();
    if (FAILED(allowed)) return allowed;
    CScopedLock hold(SeekLock);
    TimeFormat = *format;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CSourceSeeking::GetDuration(LONGLONG* duration) {
    if (!duration) return E_POINTER;
    CScopedLock hold(SeekLock);
    *duration = Outward(TimeFormat, Duration);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CSourceSeeking::GetStopPosition(LONGLONG* stop) {
    if (!stop) return E_POINTER;
    CScopedLock hold(SeekLock);
    *stop = Outward(TimeFormat, StopPosition);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CSourceSeeking::GetCurrentPosition(LONGLONG*) {
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE CSourceSeeking::ConvertTimeFormat(LONGLONG* target, const GUID* targetFormat,
                                                            LONGLONG source, const GUID* sourceFormat) {
    if (!target) return E_POINTER;
    const GUID inUse = FormatInUse();
    const GUID& to = targetFormat ? *targetFormat : inUse;
    const GUID& from = sourceFormat ? *sourceFormat : inUse;
    if (!Known(to) || !Known(from)) return E_INVALIDARG;
    *target = Outward(to, Inward(from, source));
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CSourceSeeking::SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop,
                                                       DWORD stopFlags) {
    const DWORD currentPositioning = currentFlags & AM_SEEKING_PositioningBitsMask;
    const DWORD stopPositioning = stopFlags & AM_SEEKING_PositioningBitsMask;
    if (stopFlags != 0) {
        if (!stop) return E_POINTER;
        if (stopFlags != stopPositioning) return E_INVALIDARG;
    }
    if (currentFlags != 0) {
        if (!current) return E_POINTER;
        if (currentPositioning != AM_SEEKING_AbsolutePositioning &&
            currentPositioning != AM_SEEKING_RelativePositioning) {
            return E_INVALIDARG;
        }
    }
    LONGLONG mediaCurrent = 0;
    LONGLONG mediaStop = 0;
    DWORD mediaCurrentFlags = currentFlags;
    DWORD mediaStopFlags = stopFlags;
    {
        CScopedLock hold(SeekLock);
        if (IsEqualGUID(TimeFormat, TIME_FORMAT_MEDIA_TIME)) {
            if (current) mediaCurrent = *current;
            if (stop) mediaStop = *stop;
        } else {
            // Relative values count in the caller's units from where the
            // positions are in those units; the stream sees absolute times.
            const LONGLONG start = Outward(TimeFormat, StartPosition);
            LONGLONG newStart = start;
            if (currentPositioning == AM_SEEKING_AbsolutePositioning) newStart = *current;
            if (currentPositioning == AM_SEEKING_RelativePositioning) newStart = start + *current;
            LONGLONG newStop = 0;
            if (stopPositioning == AM_SEEKING_AbsolutePositioning) newStop = *stop;
            if (stopPositioning == AM_SEEKING_RelativePositioning) newStop = Outward(TimeFormat, StopPosition) + *stop;
            if (stopPositioning == AM_SEEKING_IncrementalPositioning) newStop = newStart + *stop;
            mediaCurrent = Inward(TimeFormat, newStart);
            mediaStop = Inward(TimeFormat, newStop);
            if (currentPositioning != AM_SEEKING_NoPositioning) {
                mediaCurrentFlags = (currentFlags & ~AM_SEEKING_PositioningBitsMask) | AM_SEEKING_AbsolutePositioning;
            }
            if (stopPositioning != AM_SEEKING_NoPositioning) mediaStopFlags = AM_SEEKING_AbsolutePositioning;
        }
    }
    return SetMediaPositions(&mediaCurrent, mediaCurrentFlags, &mediaStop, mediaStopFlags);
}

HRESULT CSourceSeeking::SetMediaPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop, DWORD stopFlags) {
    const DWORD currentPositioning = currentFlags & AM_SEEKING_PositioningBitsMask;
    const DWORD stopPositioning = stopFlags & AM_SEEKING_PositioningBitsMask;
    {
        CScopedLock hold(SeekLock);
        if (currentPositioning == AM_SEEKING_AbsolutePositioning) {
            StartPosition = *current;
        } else if (currentPositioning == AM_SEEKING_RelativePositioning) {
            StartPosition += *current;
        }
        if (stopPositioning == AM_SEEKING_AbsolutePositioning) {
            StopPosition = *stop;
        } else if (stopPositioning == AM_SEEKING_RelativePositioning) {
            StopPosition += *stop;
        } else if (stopPositioning == AM_SEEKING_IncrementalPositioning) {
            StopPosition = StartPosition + *stop;
        }
    }
    HRESULT result = S_OK;
    if (stopPositioning != AM_SEEKING_NoPositioning) result = OnStopChanged();
    if (currentPositioning != AM_SEEKING_NoPositioning) result = OnStartChanged();
    return result;
}

HRESULT STDMETHODCALLTYPE CSourceSeeking::GetPositions(LONGLONG* current, LONGLONG* stop) {
    const GUID format = FormatInUse();
    if (current) *current = Outward(format, StartPosition);
    if (stop) *stop = Outward(format, StopPosition);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CSourceSeeking::GetAvailable(LONGLONG* earliest, LONGLONG* latest) {
    if (earliest) *earliest = 0;
    if (latest) {
        CScopedLock hold(SeekLock);
        *latest = Outward(TimeFormat, Duration);
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CSourceSeeking::SetRate(double rate) {
    {
        CScopedLock hold(SeekLock);
        SeekRate = rate;
    }
    return OnRateChanged();
}

HRESULT STDMETHODCALLTYPE CSourceSeeking::GetRate(double* rate) {
    if (!rate) return E_POINTER;
    CScopedLock hold(SeekLock);
    *rate = SeekRate;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CSourceSeeking::GetPreroll(LONGLONG* preroll) {
    if (!preroll) return E_POINTER;
    *preroll = 0;
    return S_OK;
}

bool CSourceSeeking::OffersTimeFormat(const GUID&) const { return false; }

LONGLONG CSourceSeeking::ToMediaTime(const GUID&, LONGLONG value) const { return value; }

LONGLONG CSourceSeeking::FromMediaTime(const GUID&, LONGLONG media) const { return media; }

HRESULT CSourceSeeking::CheckTimeFormatChange() { return S_OK; }

bool CSourceSeeking::Known(const GUID& format) const { return IsMediaTime(format) || OffersTimeFormat(format); }

GUID CSourceSeeking::FormatInUse() const {
    CScopedLock hold(SeekLock);
    return TimeFormat;
}

LONGLONG CSourceSeeking::Outward(const GUID& format, LONGLONG media) const {
    return IsMediaTime(format) ? media : FromMediaTime(format, media);
}

LONGLONG CSourceSeeking::Inward(const GUID& format, LONGLONG value) const {
    return IsMediaTime(format) ? value : ToMediaTime(format, value);
}
