// The module suite's entry. Run with "--load-child MODULE RECORDING" it is the
// child of a test that placed a copy of the module beside a playback library
// of its choosing: it loads that module by path, creates the filter through
// the module's own class object, and reports Load's result as its exit code.
// Otherwise it registers the module and runs the tests; a crash ends the run
// at once with a line saying so.
#include "CrashReport.h"
#include "ModuleSetup.h"

#include "server/KXVDSrcClsid.h"

#include <dshow.h>
#include <shellapi.h>
#include <gtest/gtest.h>

#include <cwchar>

namespace {

int LoadThroughModule(const wchar_t* module, const wchar_t* recording) {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    HRESULT result = E_UNEXPECTED;
    HMODULE loaded = LoadLibraryW(module);
    using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    auto entry = loaded ? reinterpret_cast<GetClassObject>(reinterpret_cast<void*>(GetProcAddress(loaded, "DllGetClassObject")))
                        : nullptr;
    IClassFactory* factory = nullptr;
    if (entry && SUCCEEDED(entry(CLSID_KXVDSource, IID_IClassFactory, reinterpret_cast<void**>(&factory)))) {
        IFileSourceFilter* source = nullptr;
        if (SUCCEEDED(factory->CreateInstance(nullptr, IID_IFileSourceFilter, reinterpret_cast<void**>(&source)))) {
            result = source->Load(recording, nullptr);
            source->Release();
        }
        factory->Release();
    }
    CoUninitialize();
    return static_cast<int>(result);
}

class RegisteredModule : public ::testing::Environment {
public:
    void SetUp() override { ASSERT_TRUE(RegisterModule()) << "KXVDSrc.ax could not be registered"; }
};

}  // namespace

int main(int argc, char** argv) {
    int wideCount = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &wideCount);
    if (wideCount == 4 && std::wcscmp(wide[1], L"--load-child") == 0) return LoadThroughModule(wide[2], wide[3]);
    LocalFree(wide);
    InstallCrashReport();
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new RegisteredModule);
    return RUN_ALL_TESTS();
}
