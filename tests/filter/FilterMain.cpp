// The test executable's entry. Run with "--library-absent-child RECORDING"
// it is the child of the test that copies it beside a lone KXVDSrc.ax, where
// no playback library can be found, and reports Load's result as its exit
// code; otherwise it registers the module and runs the tests.
#include "ModuleSetup.h"

#include "server/KXVDSrcClsid.h"

#include <dshow.h>
#include <shellapi.h>
#include <gtest/gtest.h>

#include <cwchar>

namespace {

int LoadWithoutLibrary(const wchar_t* recording) {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    HRESULT result = E_UNEXPECTED;
    HMODULE module = LoadLibraryW(ModulePath().c_str());
    using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    auto entry = module ? reinterpret_cast<GetClassObject>(reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject"))) : nullptr;
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
    if (wideCount == 3 && std::wcscmp(wide[1], L"--library-absent-child") == 0) return LoadWithoutLibrary(wide[2]);
    LocalFree(wide);
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new RegisteredModule);
    return RUN_ALL_TESTS();
}
