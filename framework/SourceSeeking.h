// CSourceSeeking: IMediaSeeking for one output stream. It stores the
// positions and rate the caller sets, checks the arguments and tells the
// derived stream through OnStartChanged, OnStopChanged and OnRateChanged;
// what a change means (flushing, restarting the worker, repositioning the
// source) is the derived stream's business.
//
// Positions are kept in media time (100-ns units), the preferred format. A
// derived stream may offer further time formats (OffersTimeFormat) and
// convert positions between them and media time; once the caller chose one
// with SetTimeFormat, every position, duration and conversion the interface
// takes or gives is in it, and SetPositions hands the derived stream the
// positions converted to media time (SetMediaPositions). The base offers
// media time alone.
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
// they may stop and restart the stream's worker. SeekLock also guards
// TimeFormat. SeekLock is the stream's own lock and comes after the filter's
// state lock in the lock order.
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
    // Changing the format is subject to CheckTimeFormatChange; choosing the
    // one in use always succeeds.
    // A null format means the one in use.
    HRESULT STDMETHODCALLTYPE ConvertTimeFormat(LONGLONG* target, const GUID* targetFormat, LONGLONG source,
                                                const GUID* sourceFormat) override;
    // The start takes absolute or relative positioning, the stop absolute,
    // relative or incremental (from the new start). A rejected call changes
    // nothing and calls no hook; otherwise OnStopChanged, then OnStartChanged,
    // run for the positions given, and the last hook's result is returned.
    // Positions are not range-checked. Values in another format than media
    // time are converted (relative ones from the current positions in that
    // format) and passed on as absolute media times.
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
    // The media-time part of SetPositions: the flags already checked. Stores
    // the positions under SeekLock and runs the hooks.
    virtual HRESULT SetMediaPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop, DWORD stopFlags);

    // Time formats besides media time, for a derived stream that offers any.
    // The conversions run with or without SeekLock held and must neither
    // lock nor block. CheckTimeFormatChange runs before SeekLock is taken
    // and tells whether the format may change now (S_OK) or why not.
    virtual bool OffersTimeFormat(const GUID& format) const;
    virtual LONGLONG ToMediaTime(const GUID& format, LONGLONG value) const;
    virtual LONGLONG FromMediaTime(const GUID& format, LONGLONG media) const;
    virtual HRESULT CheckTimeFormatChange();

    REFERENCE_TIME Duration;
    REFERENCE_TIME StartPosition;
    REFERENCE_TIME StopPosition;
    double SeekRate;
    DWORD SeekCapabilities;
    CCritLock* const SeekLock;
    GUID TimeFormat;

private:
    bool Known(const GUID& format) const;
    // The format in use (SeekLock taken here).
    GUID FormatInUse() const;
    // A media time in the given format, and back.
    LONGLONG Outward(const GUID& format, LONGLONG media) const;
    LONGLONG Inward(const GUID& format, LONGLONG value) const;
};
