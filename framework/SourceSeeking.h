// CSourceSeeking: IMediaSeeking for one output stream, in media time only.
// It stores the positions and rate the caller sets, checks the arguments and
// tells the derived stream through OnStartChanged, OnStopChanged and
// OnRateChanged; what a change means (flushing, restarting the worker,
// repositioning the source) is the derived stream's business.
//
// The IMediaSeeking entries forward QueryInterface/AddRef/Release to the
// outer unknown (the streams pass their own IPin), so the seeking part has no
// lifetime of its own. Owns nothing; SeekLock belongs to the derived stream.
//
// Threads: the application's and graph's threads. SeekLock guards Duration,
// StartPosition, StopPosition and SeekRate for their writes and for the reads
// of GetDuration, GetStopPosition, GetAvailable (latest) and GetRate; the
// capability and GetPositions reads take no lock, so GetPositions may pair a
// start and a stop from two updates. The hooks run with SeekLock released, so
// they may stop and restart the stream's worker. SeekLock is the stream's own
// lock and comes after the filter's state lock in the lock order.
#pragma once

#include "framework/CritLock.h"
#include "framework/Unknown.h"

#include <windows.h>
#include <strmif.h>

class CSourceSeeking : public IMediaSeeking, public CUnknown {
public:
    // result is not written; lock is the derived stream's, not owned.
    CSourceSeeking(const char* objectName, IUnknown* outer, HRESULT* result, CCritLock* lock);

    HRESULT STDMETHODCALLTYPE InnerQueryInterface(REFIID id, void** out) override;

    KX_FORWARD_UNKNOWN_TO_OUTER

    HRESULT STDMETHODCALLTYPE GetCapabilities(DWORD* capabilities) override;
    HRESULT STDMETHODCALLTYPE CheckCapabilities(DWORD* capabilities) override;
    HRESULT STDMETHODCALLTYPE IsFormatSupported(const GUID* format) override;
    HRESULT STDMETHODCALLTYPE QueryPreferredFormat(GUID* format) override;
    HRESULT STDMETHODCALLTYPE GetTimeFormat(GUID* format) override;
    HRESULT STDMETHODCALLTYPE IsUsingTimeFormat(const GUID* format) override;
    HRESULT STDMETHODCALLTYPE SetTimeFormat(const GUID* format) override;
    HRESULT STDMETHODCALLTYPE GetDuration(LONGLONG* duration) override;
    HRESULT STDMETHODCALLTYPE GetStopPosition(LONGLONG* stop) override;
    HRESULT STDMETHODCALLTYPE GetCurrentPosition(LONGLONG* current) override;
    // A null format means media time.
    HRESULT STDMETHODCALLTYPE ConvertTimeFormat(LONGLONG* target, const GUID* targetFormat, LONGLONG source,
                                                const GUID* sourceFormat) override;
    // The start takes absolute or relative positioning, the stop absolute,
    // relative or incremental (from the new start). A rejected call changes
    // nothing and calls no hook; otherwise OnStopChanged, then OnStartChanged,
    // run for the positions given, and the last hook's result is returned.
    // Positions are not range-checked.
    HRESULT STDMETHODCALLTYPE SetPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop,
                                           DWORD stopFlags) override;
    // Either pointer may be null.
    HRESULT STDMETHODCALLTYPE GetPositions(LONGLONG* current, LONGLONG* stop) override;
    HRESULT STDMETHODCALLTYPE GetAvailable(LONGLONG* earliest, LONGLONG* latest) override;
    // Stores any rate unchecked and returns OnRateChanged's result.
    HRESULT STDMETHODCALLTYPE SetRate(double rate) override;
    HRESULT STDMETHODCALLTYPE GetRate(double* rate) override;
    HRESULT STDMETHODCALLTYPE GetPreroll(LONGLONG* preroll) override;

    // Called on the seeking thread, SeekLock released.
    virtual HRESULT OnStartChanged() = 0;
    virtual HRESULT OnStopChanged() = 0;
    virtual HRESULT OnRateChanged() = 0;

    // No limit, for the duration and stop of a stream that has not set them.
    static constexpr REFERENCE_TIME UnboundedTime = 0x3FFFFFFFFFFFFFFFLL;

protected:
    REFERENCE_TIME Duration;
    REFERENCE_TIME StartPosition;
    REFERENCE_TIME StopPosition;
    double SeekRate;
    DWORD SeekCapabilities;
    CCritLock* const SeekLock;
};
