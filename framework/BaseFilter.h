// CBaseFilter: IBaseFilter (with IMediaFilter, IPersist) and IAMovieSetup for
// any filter. Owns FilterName and one reference on Clock; Graph and EventSink
// are held without references. Knows its pins only through CountPins and
// PinByIndex (no references).
//
// Threads: the graph's and application's threads. FilterLock (supplied by the
// derived class, re-entrant) guards State, Clock, StartTime, Graph, EventSink
// and FilterName writes; it is held across the pins' Activate/Deactivate/
// OnFilterRun and comes before any worker thread's AccessLock. GetClassID,
// GetState, QueryFilterInfo, EnumPins, StreamTimeNow and RaiseGraphEvent take
// no lock (RaiseGraphEvent is called from workers while a controller may hold
// FilterLock and wait for them).
#pragma once

#include "framework/CritLock.h"
#include "framework/FilterSetupRecord.h"
#include "framework/Unknown.h"

#include <windows.h>
#include <strmif.h>

#include <atomic>

class CBasePin;

// Unregisters the record's filter from the mapper and, when registering,
// registers it with its pins and their types. S_FALSE for no record.
HRESULT RegisterThroughMapper(const FilterSetupRecord* record, IFilterMapper* mapper, BOOL registering);

class CBaseFilter : public CUnknown, public IBaseFilter, public IAMovieSetup {
public:
    CBaseFilter(const char* objectName, IUnknown* outer, CCritLock* filterLock, REFCLSID classId);
    ~CBaseFilter() override;

    HRESULT STDMETHODCALLTYPE InnerQueryInterface(REFIID id, void** out) override;

    // Stream time (clock time minus StartTime); VFW_E_NO_CLOCK without a clock.
    virtual HRESULT StreamTimeNow(REFERENCE_TIME* now);
    virtual LONG PinSetVersion();
    virtual int CountPins() = 0;
    // No reference is added; null outside the pin list.
    virtual CBasePin* PinByIndex(int index) = 0;
    virtual const FilterSetupRecord* RegistrationData();

    KX_FORWARD_UNKNOWN_TO_OUTER

    // IPersist
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID* classId) override;
    // IMediaFilter
    HRESULT STDMETHODCALLTYPE Stop() override;
    HRESULT STDMETHODCALLTYPE Pause() override;
    HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME start) override;
    HRESULT STDMETHODCALLTYPE GetState(DWORD timeoutMs, FILTER_STATE* state) override;
    HRESULT STDMETHODCALLTYPE SetSyncSource(IReferenceClock* clock) override;
    HRESULT STDMETHODCALLTYPE GetSyncSource(IReferenceClock** clock) override;
    // IBaseFilter (FindPin is left to the derived filter)
    HRESULT STDMETHODCALLTYPE EnumPins(IEnumPins** pins) override;
    HRESULT STDMETHODCALLTYPE QueryFilterInfo(FILTER_INFO* info) override;
    HRESULT STDMETHODCALLTYPE JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;
    HRESULT STDMETHODCALLTYPE QueryVendorInfo(LPWSTR* info) override;
    // IAMovieSetup
    HRESULT STDMETHODCALLTYPE Register() override;
    HRESULT STDMETHODCALLTYPE Unregister() override;

    bool IsPausedOrRunning();
    // E_NOTIMPL without an event sink; EC_COMPLETE carries this filter.
    HRESULT RaiseGraphEvent(LONG code, LONG_PTR param1, LONG_PTR param2);

    // Unlocked reads for the pins and enumerators.
    FILTER_STATE CurrentState() const { return State; }
    IFilterGraph* CurrentGraph() const { return Graph; }
    CCritLock* GetFilterLock() const { return FilterLock; }

protected:
    std::atomic<FILTER_STATE> State;
    IReferenceClock* Clock;
    REFERENCE_TIME StartTime;
    CLSID ClassId;
    CCritLock* const FilterLock;
    wchar_t* FilterName;
    IFilterGraph* Graph;
    IMediaEventSink* EventSink;
    LONG PinVersion;
};
