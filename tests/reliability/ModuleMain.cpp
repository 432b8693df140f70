// The module suite's entry. Run with "--load-child MODULE RECORDING" it is the
// child of a test that placed a copy of the module beside a playback library
// of its choosing: it loads that module by path, creates the filter through
// the module's own class object, and reports Load's result as its exit code.
// Run with "--vanish-child RECORDING" it loads the recording through the
// registered filter and ends abruptly with the filter alive (its exit code 0,
// or Load's failure). Otherwise it registers the module and runs the tests; a
// crash ends the run at once with a line saying so.
#include "CrashReport.h"
#include "ModuleSetup.h"
#include "common/KXVDSrcClsid.h"

#include <windows.h>
#include <dshow.h>
#include <shellapi.h>
#include <gtest/gtest.h>

#include <cwchar>

namespace {

class RegisteredModule : public ::testing::Environment {
public:
    void SetUp() override { ASSERT_TRUE(RegisterModule()) << "KXVDSrc.ax could not be registered"; }
};

int VanishAfterLoad(const wchar_t* recording) {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    IFileSourceFilter* source = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_KXVDSource, nullptr, CLSCTX_INPROC_SERVER, IID_IFileSourceFilter,
                                  reinterpret_cast<void**>(&source));
    if (SUCCEEDED(hr)) hr = source->Load(recording, nullptr);
    TerminateProcess(GetCurrentProcess(), SUCCEEDED(hr) ? 0 : static_cast<UINT>(hr));
    return hr;
}

}  // namespace

int main(int argc, char** argv) {
    int wideCount = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &wideCount);
    if (wideCount == 4 && std::wcscmp(wide[1], L"--load-child") == 0) {
        return static_cast<int>(LoadThroughModule(wide[2], wide[3]));
    }
    if (wideCount == 3 && std::wcscmp(wide[1], L"--vanish-child") == 0) return VanishAfterLoad(wide[2]);
    LocalFree(wide);
    InstallCrashReport();
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new RegisteredModule);
    return RUN_ALL_TESTS();
}
