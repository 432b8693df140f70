// What every test of the registered module shares: COM on the test's thread
// (multithreaded, as the filter's workers are), a folder of its own for
// recordings, the filter created by class id as applications do, and the
// module's own answer to whether anything of it is still alive, checked after
// every test so that a leak is pinned on the test that made it.
#pragma once

#include "TempFolder.h"
#include "TestRecordingFile.h"

#include <dshow.h>
#include <gtest/gtest.h>
#include <wrl/client.h>

#include <string>

using Microsoft::WRL::ComPtr;

class CFaultySink;

// CoFreeUnusedLibrariesEx with no delay, then whether the module is gone.
bool ModuleFreedWhenUnused();

class ModuleTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    std::wstring Recording(const wchar_t* name, const RecordingPlan& plan);
    // A new filter, by class id.
    ComPtr<IBaseFilter> NewFilter();
    // Load on a new filter; the filter is kept in *filter when given.
    HRESULT LoadFile(const std::wstring& path, ComPtr<IBaseFilter>* filter = nullptr);
    // Load of a small good recording succeeds: the process can still load.
    void ExpectGoodLoad();
    // Connects the pin to sink, runs the filter (outside any graph, without
    // a clock) until the sink has the end of the stream, and stops it; every
    // step bounded.
    void PlayPinToEnd(IBaseFilter* filter, const wchar_t* pinId, CFaultySink* sink);

    CTempFolder Temp;
};
