// The test executable's entry. Run with "--library-absent-child RECORDING"
// it is the child of the test that copies it beside a lone KXVDSrc.ax, where
// no playback library can be found, and reports Load's result as its exit
// code; with "--registered-child RECORDING" it loads the recording into the
// filter COM creates from the registry and reports the same; with
// "--shell-child RECORDING" the same for the Explorer handlers; otherwise it
// registers the module and runs the tests.
#include "ModuleSetup.h"

#include <windows.h>
#include <shellapi.h>
#include <gtest/gtest.h>

#include <cwchar>

namespace {

class RegisteredModule : public ::testing::Environment {
public:
    void SetUp() override { ASSERT_TRUE(RegisterModule()) << "KXVDSrc.ax could not be registered"; }
};

}  // namespace

int main(int argc, char** argv) {
    int wideCount = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &wideCount);
    if (wideCount == 3 && std::wcscmp(wide[1], L"--library-absent-child") == 0) {
        return static_cast<int>(LoadThroughModule(ModulePath().c_str(), wide[2]));
    }
    if (wideCount == 3 && std::wcscmp(wide[1], L"--registered-child") == 0) {
        return static_cast<int>(LoadThroughRegistration(wide[2]));
    }
    if (wideCount == 3 && std::wcscmp(wide[1], L"--shell-child") == 0) {
        return static_cast<int>(ShellHandlersThroughModule(ModulePath().c_str(), wide[2]));
    }
    LocalFree(wide);
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new RegisteredModule);
    return RUN_ALL_TESTS();
}
