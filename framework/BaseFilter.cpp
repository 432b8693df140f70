#include "framework/BaseFilter.h"

#include "framework/BasePin.h"
#include "framework/EnumPins.h"
#include "framework/ScopedLock.h"

#include <cwchar>
#include <new>

#include <objbase.h>
#include <uuids.h>
#include <evcode.h>
#include <vfwmsgs.h>

namespace {

HRESULT FileNotFoundAsSuccess(HRESULT result) {
    return result == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) ? S_OK : result;
}

}  // namespace

HRESULT RegisterThroughMapper(const FilterSetupRecord* record, IFilterMapper* mapper, BOOL registering) {
    if (!record) {
        return S_FALSE;
    }
    HRESULT result = mapper->UnregisterFilter(*record->ClassId);
    if (registering) {
        result = mapper->RegisterFilter(*record->ClassId, record->Name, record->Merit);
        for (ULONG p = 0; p < record->PinCount && SUCCEEDED(result); ++p) {
            const REGFILTERPINS& pin = record->Pins[p];
            result = mapper->RegisterPin(*record->ClassId, pin.strName, pin.bRendered, pin.bOutput, pin.bZero,
                                         pin.bMany, *pin.clsConnectsToFilter, pin.strConnectsToPin);
            for (UINT t = 0; t < pin.nMediaTypes && SUCCEEDED(result); ++t) {
                result = mapper->RegisterPinType(*record->ClassId, pin.strName, *pin.lpMediaType[t].clsMajorType,
                                                 *pin.lpMediaType[t].clsMinorType);
            }
        }
    }
    return FileNotFoundAsSuccess(result);
}

CBaseFilter::CBaseFilter(const char* objectName, IUnknown* outer, CCritLock* filterLock, REFCLSID classId)
    : CUnknown(objectName, outer),
      State(State_Stopped),
      Clock(nullptr),
      StartTime(0),
      ClassId(classId),
      FilterLock(filterLock),
      FilterName(nullptr),
      Graph(nullptr),
      EventSink(nullptr),
      PinVersion(1) {}

CBaseFilter::~CBaseFilter() {
    delete[] FilterName;
    if (Clock) {
        Clock->Release();
    }
}

HRESULT STDMETHODCALLTYPE CBaseFilter::InnerQueryInterface(REFIID id, void** out) {
    if (!out) {
        return E_POINTER;
    }
    if (IsEqualGUID(id, IID_IBaseFilter) || IsEqualGUID(id, IID_IMediaFilter) || IsEqualGUID(id, IID_IPersist)) {
        return HandOutInterface(static_cast<IBaseFilter*>(this), out);
    }
    if (IsEqualGUID(id, IID_IAMovieSetup)) {
        return HandOutInterface(static_cast<IAMovieSetup*>(this), out);
    }
    return CUnknown::InnerQueryInterface(id, out);
}

HRESULT CBaseFilter::StreamTimeNow(REFERENCE_TIME* now) {
    if (!now) {
        return E_POINTER;
    }
    if (!Clock) {
        return VFW_E_NO_CLOCK;
    }
    REFERENCE_TIME clockTime = 0;
    HRESULT result = Clock->GetTime(&clockTime);
    if (FAILED(result)) {
        return result;
    }
    *now = clockTime - StartTime;
    return S_OK;
}

LONG CBaseFilter::PinSetVersion() {
    return PinVersion;
}

const FilterSetupRecord* CBaseFilter::RegistrationData() {
    return nullptr;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::GetClassID(CLSID* classId) {
    if (!classId) {
        return E_POINTER;
    }
    *classId = ClassId;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::Stop() {
    CScopedLock hold(FilterLock);
    HRESULT first = S_OK;
    if (State != State_Stopped) {
        int count = CountPins();
        for (int i = 0; i < count; ++i) {
            CBasePin* pin = PinByIndex(i);
            if (pin && pin->IsConnected()) {
                HRESULT result = pin->Deactivate();
                if (FAILED(result) && SUCCEEDED(first)) {
                    first = result;
                }
            }
        }
    }
    State = State_Stopped;
    return first;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::Pause() {
    CScopedLock hold(FilterLock);
    if (State == State_Stopped) {
        int count = CountPins();
        for (int i = 0; i < count; ++i) {
            CBasePin* pin = PinByIndex(i);
            if (pin && pin->IsConnected()) {
                HRESULT result = pin->Activate();
                if (FAILED(result)) {
                    // The filter stays stopped, so a later Stop does nothing:
                    // pins already active (an allocator committed, a worker
                    // started) are deactivated here, or they outlive the
                    // graph. None of them has sent anything yet (see
                    // OnFilterPause), so none waits on a paused peer.
                    for (int j = 0; j < i; ++j) {
                        CBasePin* active = PinByIndex(j);
                        if (active && active->IsConnected()) active->Deactivate();
                    }
                    return result;
                }
            }
        }
        State = State_Paused;
        HRESULT first = S_OK;
        for (int i = 0; i < count; ++i) {
            CBasePin* pin = PinByIndex(i);
            if (pin && pin->IsConnected()) {
                const HRESULT result = pin->OnFilterPause();
                if (FAILED(result) && SUCCEEDED(first)) first = result;
            }
        }
        return first;
    }
    State = State_Paused;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::Run(REFERENCE_TIME start) {
    CScopedLock hold(FilterLock);
    StartTime = start;
    if (State == State_Stopped) {
        HRESULT result = static_cast<IBaseFilter*>(this)->Pause();
        if (FAILED(result)) {
            return result;
        }
    }
    if (State != State_Running) {
        int count = CountPins();
        for (int i = 0; i < count; ++i) {
            CBasePin* pin = PinByIndex(i);
            if (pin && pin->IsConnected()) {
                HRESULT result = pin->OnFilterRun(start);
                if (FAILED(result)) {
                    return result;
                }
            }
        }
    }
    State = State_Running;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::GetState(DWORD, FILTER_STATE* state) {
    if (!state) {
        return E_POINTER;
    }
    *state = State;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::SetSyncSource(IReferenceClock* clock) {
    CScopedLock hold(FilterLock);
    if (clock) {
        clock->AddRef();
    }
    if (Clock) {
        Clock->Release();
    }
    Clock = clock;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::GetSyncSource(IReferenceClock** clock) {
    if (!clock) {
        return E_POINTER;
    }
    CScopedLock hold(FilterLock);
    if (Clock) {
        Clock->AddRef();
    }
    *clock = Clock;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::EnumPins(IEnumPins** pins) {
    if (!pins) {
        return E_POINTER;
    }
    *pins = new (std::nothrow) CEnumPins(this, nullptr);
    return *pins ? S_OK : E_OUTOFMEMORY;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::QueryFilterInfo(FILTER_INFO* info) {
    if (!info) {
        return E_POINTER;
    }
    const size_t capacity = sizeof(info->achName) / sizeof(info->achName[0]);
    size_t length = FilterName ? std::wcslen(FilterName) : 0;
    if (length > capacity - 1) {
        length = capacity - 1;
    }
    if (length) {
        std::wmemcpy(info->achName, FilterName, length);
    }
    info->achName[length] = L'\0';
    info->pGraph = Graph;
    if (Graph) {
        Graph->AddRef();
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) {
    CScopedLock hold(FilterLock);
    Graph = graph;
    EventSink = nullptr;
    if (graph) {
        IMediaEventSink* sink = nullptr;
        if (SUCCEEDED(graph->QueryInterface(IID_IMediaEventSink, reinterpret_cast<void**>(&sink))) && sink) {
            // The graph owns the filter; a counted reference back would make a cycle.
            EventSink = sink;
            sink->Release();
        }
    }
    delete[] FilterName;
    FilterName = nullptr;
    if (name) {
        size_t length = std::wcslen(name);
        FilterName = new (std::nothrow) wchar_t[length + 1];
        if (FilterName) {
            std::wmemcpy(FilterName, name, length + 1);
        }
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::QueryVendorInfo(LPWSTR*) {
    return E_NOTIMPL;
}

namespace {

HRESULT RegisterWithMapper(const FilterSetupRecord* record, BOOL registering) {
    CoInitialize(nullptr);
    IFilterMapper* mapper = nullptr;
    HRESULT result = CoCreateInstance(CLSID_FilterMapper, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper,
                                      reinterpret_cast<void**>(&mapper));
    if (SUCCEEDED(result)) {
        result = RegisterThroughMapper(record, mapper, registering);
        mapper->Release();
    }
    CoFreeUnusedLibraries();
    CoUninitialize();
    return result;
}

}  // namespace

HRESULT STDMETHODCALLTYPE CBaseFilter::Register() {
    const FilterSetupRecord* record = RegistrationData();
    if (!record) {
        return S_FALSE;
    }
    RegisterWithMapper(record, TRUE);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CBaseFilter::Unregister() {
    const FilterSetupRecord* record = RegistrationData();
    if (!record) {
        return S_FALSE;
    }
    return FileNotFoundAsSuccess(RegisterWithMapper(record, FALSE));
}

bool CBaseFilter::IsPausedOrRunning() {
    CScopedLock hold(FilterLock);
    return State == State_Paused || State == State_Running;
}

HRESULT CBaseFilter::RaiseGraphEvent(LONG code, LONG_PTR param1, LONG_PTR param2) {
    IMediaEventSink* sink = EventSink;
    if (!sink) {
        return E_NOTIMPL;
    }
    if (code == EC_COMPLETE) {
        param2 = reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(this));
    }
    return sink->Notify(code, param1, param2);
}
