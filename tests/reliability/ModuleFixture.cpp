#include "ModuleFixture.h"

#include "Bounded.h"
#include "FaultySink.h"
#include "ModuleSetup.h"
#include "common/KXVDSrcClsid.h"

bool ModuleFreedWhenUnused() {
    CoFreeUnusedLibrariesEx(0, 0);
    return !ModuleIsLoaded();
}

void ModuleTest::SetUp() { CoInitializeEx(nullptr, COINIT_MULTITHREADED); }

void ModuleTest::TearDown() {
    if (ModuleIsLoaded()) {
        EXPECT_EQ(S_OK, ModuleCanUnloadNow()) << "an object of the module outlived the test";
    }
    CoUninitialize();
}

std::wstring ModuleTest::Recording(const wchar_t* name, const RecordingPlan& plan) {
    const std::wstring path = Temp.File(name);
    WriteTestRecording(path, plan);
    return path;
}

ComPtr<IBaseFilter> ModuleTest::NewFilter() {
    ComPtr<IBaseFilter> filter;
    const HRESULT hr = CoCreateInstance(CLSID_KXVDSource, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&filter));
    EXPECT_EQ(S_OK, hr) << "the filter could not be created by its class id";
    return filter;
}

HRESULT ModuleTest::LoadFile(const std::wstring& path, ComPtr<IBaseFilter>* kept) {
    ComPtr<IBaseFilter> filter = NewFilter();
    if (!filter) return E_UNEXPECTED;
    ComPtr<IFileSourceFilter> source;
    if (FAILED(filter.As(&source))) return E_NOINTERFACE;
    const HRESULT hr = source->Load(path.c_str(), nullptr);
    if (kept) *kept = filter;
    return hr;
}

void ModuleTest::ExpectGoodLoad() {
    RecordingPlan plan;
    plan.DurationMs = 400;
    const std::wstring path = Recording(L"good.kxr", plan);
    ComPtr<IBaseFilter> filter;
    EXPECT_EQ(S_OK, LoadFile(path, &filter)) << "a good file no longer loads after the bad input";
    if (!filter) return;
    ComPtr<IPin> video;
    EXPECT_EQ(S_OK, filter->FindPin(L"1", &video)) << "the good file has no video pin";
}

void ModuleTest::PlayPinToEnd(IBaseFilter* filter, const wchar_t* pinId, CFaultySink* sink) {
    ComPtr<IPin> pin;
    ASSERT_EQ(S_OK, filter->FindPin(pinId, &pin));
    ASSERT_EQ(S_OK, pin->Connect(sink, nullptr)) << "the sink refused the connection";
    ASSERT_EQ(S_OK, filter->Pause());
    ASSERT_TRUE(SUCCEEDED(filter->Run(0)));
    EXPECT_TRUE(sink->WaitFor([sink] { return sink->EndOfStreams > 0; }, 30000))
        << "no end of stream within 30 s";
    ASSERT_TRUE(RunBounded([filter] { filter->Stop(); }, 10000)) << "Stop did not return within 10 s";
    EXPECT_EQ(S_OK, pin->Disconnect());
    sink->Disconnect();
}
