#include "LiveObjectTest.h"
#include "PeerPin.h"
#include "TestFilter.h"

#include <string>

#include <control.h>
#include <evcode.h>
#include <uuids.h>
#include <vfwmsgs.h>

namespace {

// Stands in for a graph: answers only IMediaEventSink and records the last event.
class RecordingSink : public IMediaEventSink {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** out) override {
        if (!out) {
            return E_POINTER;
        }
        if (IsEqualGUID(id, IID_IMediaEventSink) || IsEqualGUID(id, IID_IUnknown)) {
            *out = static_cast<IMediaEventSink*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++References); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--References); }
    HRESULT STDMETHODCALLTYPE Notify(LONG code, LONG_PTR param1, LONG_PTR param2) override {
        Code = code;
        Param1 = param1;
        Param2 = param2;
        return S_OK;
    }
    // JoinFilterGraph only queries the graph, so the sink can pose as one.
    IFilterGraph* AsGraph() { return reinterpret_cast<IFilterGraph*>(static_cast<IUnknown*>(this)); }

    LONG References = 0;
    LONG Code = 0;
    LONG_PTR Param1 = 0;
    LONG_PTR Param2 = 0;
};

class FixedClock : public IReferenceClock {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
        if (!out) {
            return E_POINTER;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++References); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--References); }
    HRESULT STDMETHODCALLTYPE GetTime(REFERENCE_TIME* time) override {
        *time = Now;
        return TimeResult;
    }
    HRESULT STDMETHODCALLTYPE AdviseTime(REFERENCE_TIME, REFERENCE_TIME, HEVENT, DWORD_PTR*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE AdvisePeriodic(REFERENCE_TIME, REFERENCE_TIME, HSEMAPHORE, DWORD_PTR*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD_PTR) override { return E_NOTIMPL; }

    LONG References = 0;
    REFERENCE_TIME Now = 0;
    HRESULT TimeResult = S_OK;
};

class BaseFilterTest : public LiveObjectTest {
protected:
    void SetUp() override {
        LiveObjectTest::SetUp();
        Filter = TestFilter::Create(3);
        Filter->Pin(0)->AttachPeer(&First);
        Filter->Pin(2)->AttachPeer(&Second);
    }
    void TearDown() override {
        Filter->Stop();
        Filter->Pin(0)->Disconnect();
        Filter->Pin(2)->Disconnect();
        EXPECT_EQ(0u, Filter->InnerRelease());
        EXPECT_EQ(0, First.References);
        EXPECT_EQ(0, Second.References);
        LiveObjectTest::TearDown();
    }
    FILTER_STATE State() {
        FILTER_STATE state = State_Running;
        EXPECT_EQ(S_OK, Filter->GetState(0, &state));
        return state;
    }

    PeerPin First;
    PeerPin Second;
    TestFilter* Filter = nullptr;
};

TEST_F(BaseFilterTest, StopDeactivatesEveryConnectedPinAndReportsTheFirstFailure) {
    ASSERT_EQ(S_OK, Filter->Run(0));
    Filter->Pin(0)->DeactivateResult = E_UNEXPECTED;
    Filter->Pin(2)->DeactivateResult = E_OUTOFMEMORY;
    EXPECT_EQ(E_UNEXPECTED, Filter->Stop());
    EXPECT_EQ(1, Filter->Pin(2)->DeactivateCalls);
    EXPECT_EQ(0, Filter->Pin(1)->DeactivateCalls) << "an unconnected pin is not told";
    EXPECT_EQ(State_Stopped, State());
    Filter->Pin(0)->DeactivateResult = S_OK;
    Filter->Pin(2)->DeactivateResult = S_OK;
    EXPECT_EQ(S_OK, Filter->Stop());
    EXPECT_EQ(1, Filter->Pin(2)->DeactivateCalls) << "stopping a stopped filter tells nobody";
}

TEST_F(BaseFilterTest, PauseStopsAtTheFirstActivationFailureAndTakesTheOthersBack) {
    Filter->Pin(2)->ActivateResult = E_OUTOFMEMORY;
    EXPECT_EQ(E_OUTOFMEMORY, Filter->Pause());
    EXPECT_EQ(State_Stopped, State());
    EXPECT_EQ(1, Filter->Pin(0)->ActivateCalls);
    EXPECT_EQ(0, Filter->Pin(1)->ActivateCalls);
    EXPECT_EQ(1, Filter->Pin(0)->DeactivateCalls) << "a stopped filter's Stop would never deactivate it";
    EXPECT_EQ(0, Filter->Pin(2)->DeactivateCalls);
    EXPECT_EQ(0, Filter->Pin(0)->PauseCalls) << "no pin starts before every pin is active";
    Filter->Pin(2)->ActivateResult = S_OK;
    EXPECT_EQ(S_OK, Filter->Pause());
    EXPECT_EQ(State_Paused, State());
    EXPECT_EQ(1, Filter->Pin(0)->PauseCalls);
    EXPECT_EQ(1, Filter->Pin(2)->PauseCalls);
    EXPECT_EQ(S_OK, Filter->Pause());
    EXPECT_EQ(2, Filter->Pin(0)->ActivateCalls) << "pausing a paused filter tells nobody";
}

TEST_F(BaseFilterTest, RunFromStoppedPausesThroughTheTableThenRunsThePins) {
    EXPECT_EQ(S_OK, Filter->Run(1234));
    EXPECT_EQ(1, Filter->PauseCalls);
    EXPECT_EQ(1, Filter->Pin(0)->ActivateCalls);
    EXPECT_EQ(1, Filter->Pin(2)->RunCalls);
    EXPECT_EQ(1234, Filter->Pin(2)->LastRunStart);
    EXPECT_EQ(0, Filter->Pin(1)->RunCalls);
    EXPECT_EQ(State_Running, State());
    EXPECT_EQ(S_OK, Filter->Pause());
    EXPECT_EQ(1, Filter->Pin(0)->ActivateCalls) << "running to paused tells nobody";
    EXPECT_EQ(State_Paused, State());
}

TEST_F(BaseFilterTest, RunFailureLeavesThePausedState) {
    Filter->Pin(0)->RunResult = E_FAIL;
    EXPECT_EQ(E_FAIL, Filter->Run(0));
    EXPECT_EQ(State_Paused, State());
    Filter->Pin(0)->RunResult = S_OK;
    EXPECT_EQ(S_OK, Filter->Run(0));
    EXPECT_TRUE(Filter->IsPausedOrRunning());
}

TEST_F(BaseFilterTest, StreamTimeIsClockTimeSinceTheStart) {
    REFERENCE_TIME now = 0;
    EXPECT_EQ(VFW_E_NO_CLOCK, Filter->StreamTimeNow(&now));
    IReferenceClock* clock = reinterpret_cast<IReferenceClock*>(1);
    EXPECT_EQ(S_OK, Filter->GetSyncSource(&clock));
    EXPECT_EQ(nullptr, clock);
    FixedClock fixed;
    fixed.Now = 5000;
    EXPECT_EQ(S_OK, Filter->SetSyncSource(&fixed));
    EXPECT_EQ(1, fixed.References);
    EXPECT_EQ(S_OK, Filter->Run(1000));
    EXPECT_EQ(S_OK, Filter->StreamTimeNow(&now));
    EXPECT_EQ(4000, now);
    fixed.TimeResult = E_UNEXPECTED;
    EXPECT_EQ(E_UNEXPECTED, Filter->StreamTimeNow(&now));
    EXPECT_EQ(S_OK, Filter->GetSyncSource(&clock));
    EXPECT_EQ(&fixed, clock);
    clock->Release();
    EXPECT_EQ(S_OK, Filter->SetSyncSource(nullptr));
    EXPECT_EQ(0, fixed.References);
}

TEST_F(BaseFilterTest, NullOutPointersAreRefused) {
    EXPECT_EQ(E_POINTER, Filter->GetClassID(nullptr));
    EXPECT_EQ(E_POINTER, Filter->GetState(0, nullptr));
    EXPECT_EQ(E_POINTER, Filter->GetSyncSource(nullptr));
    EXPECT_EQ(E_POINTER, Filter->EnumPins(nullptr));
    EXPECT_EQ(E_POINTER, Filter->QueryFilterInfo(nullptr));
    EXPECT_EQ(E_POINTER, Filter->InnerQueryInterface(IID_IBaseFilter, nullptr));
    EXPECT_EQ(E_NOTIMPL, Filter->QueryVendorInfo(nullptr));
}

TEST_F(BaseFilterTest, FilterAnswersItsInterfacesAndRegistersNothingWithoutData) {
    for (const IID* id : {&IID_IBaseFilter, &IID_IMediaFilter, &IID_IPersist, &IID_IAMovieSetup}) {
        IUnknown* iface = nullptr;
        ASSERT_EQ(S_OK, Filter->InnerQueryInterface(*id, reinterpret_cast<void**>(&iface)));
        iface->Release();
    }
    EXPECT_EQ(S_FALSE, Filter->Register());
    EXPECT_EQ(S_FALSE, Filter->Unregister());
}

TEST_F(BaseFilterTest, FilterInfoTruncatesLongNamesAndCountsTheGraph) {
    FILTER_INFO info;
    ASSERT_EQ(S_OK, Filter->QueryFilterInfo(&info));
    EXPECT_EQ(L'\0', info.achName[0]);
    EXPECT_EQ(nullptr, info.pGraph);
    std::wstring name(200, L'n');
    name[126] = L'x';
    RecordingSink sink;
    ASSERT_EQ(S_OK, Filter->JoinFilterGraph(sink.AsGraph(), name.c_str()));
    EXPECT_EQ(0, sink.References) << "the graph is held without a reference";
    ASSERT_EQ(S_OK, Filter->QueryFilterInfo(&info));
    EXPECT_EQ(std::wstring(name, 0, 127), std::wstring(info.achName));
    EXPECT_EQ(sink.AsGraph(), info.pGraph);
    EXPECT_EQ(1, sink.References);
    info.pGraph->Release();
    Filter->JoinFilterGraph(nullptr, nullptr);
}

TEST_F(BaseFilterTest, GraphEventsGoToTheFoundSinkAndCompletionNamesTheFilter) {
    EXPECT_EQ(E_NOTIMPL, Filter->RaiseGraphEvent(EC_ERRORABORT, E_FAIL, 0));
    RecordingSink sink;
    Filter->JoinFilterGraph(sink.AsGraph(), L"f");
    EXPECT_EQ(S_OK, Filter->RaiseGraphEvent(EC_ERRORABORT, E_FAIL, 9));
    EXPECT_EQ(EC_ERRORABORT, sink.Code);
    EXPECT_EQ(9, sink.Param2);
    EXPECT_EQ(S_OK, Filter->RaiseGraphEvent(EC_COMPLETE, S_OK, 9));
    EXPECT_EQ(reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(Filter)), sink.Param2);
    Filter->JoinFilterGraph(nullptr, nullptr);
    EXPECT_EQ(E_NOTIMPL, Filter->RaiseGraphEvent(EC_ERRORABORT, E_FAIL, 0));
}

TEST_F(BaseFilterTest, RealGraphIsJoinedAndReceivesEvents) {
    IGraphBuilder* graph = nullptr;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                     reinterpret_cast<void**>(&graph)));
    ASSERT_EQ(S_OK, graph->AddFilter(Filter, L"Under test"));
    FILTER_INFO info;
    ASSERT_EQ(S_OK, Filter->QueryFilterInfo(&info));
    EXPECT_STREQ(L"Under test", info.achName);
    EXPECT_NE(nullptr, info.pGraph);
    if (info.pGraph) {
        info.pGraph->Release();
    }
    EXPECT_EQ(S_OK, Filter->RaiseGraphEvent(EC_USER + 7, 11, 12));
    IMediaEvent* events = nullptr;
    ASSERT_EQ(S_OK, graph->QueryInterface(IID_IMediaEvent, reinterpret_cast<void**>(&events)));
    long code = 0;
    LONG_PTR param1 = 0;
    LONG_PTR param2 = 0;
    ASSERT_EQ(S_OK, events->GetEvent(&code, &param1, &param2, 5000)) << "the event never reached the graph";
    EXPECT_EQ(EC_USER + 7, code);
    EXPECT_EQ(11, param1);
    events->FreeEventParams(code, param1, param2);
    events->Release();
    EXPECT_EQ(S_OK, graph->RemoveFilter(Filter));
    EXPECT_EQ(E_NOTIMPL, Filter->RaiseGraphEvent(EC_USER, 0, 0)) << "leaving the graph drops its sink";
    graph->Release();
}

}  // namespace
