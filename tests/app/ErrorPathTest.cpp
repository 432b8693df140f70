// Every way kxvplay can fail, each with its own exit code and a one-line
// message that says what is wrong and, where it can, how to fix it.
#include "AppTest.h"
#include "ModuleSetup.h"

#include <windows.h>

#include <cstdio>

namespace {

// Calls one of the module's registration exports of the module at path.
bool CallRegistration(const std::wstring& path, const char* entry) {
    HMODULE module = LoadLibraryW(path.c_str());
    if (!module) return false;
    using Entry = HRESULT(STDAPICALLTYPE*)();
    Entry call = reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(module, entry)));
    const bool done = call && SUCCEEDED(call());
    FreeLibrary(module);
    return done;
}

// Puts the module of this build back in the registry however the test ends,
// so the tests after it find the filter as before.
class RegistrationRestorer {
public:
    ~RegistrationRestorer() { EXPECT_TRUE(RegisterModule()) << "KXVDSrc.ax could not be registered again"; }
};

class ErrorPathTest : public AppTest {
protected:
    void SetUp() override {
        AppTest::SetUp();
        RecordingPlan plan;
        plan.DurationMs = 1000;
        path = Recording(L"good.kxr", plan);
    }

    static void ExpectFailure(const ChildResult& run, int code, const char* words) {
        EXPECT_EQ(code, run.ExitCode) << run.Err;
        EXPECT_NE(std::string::npos, run.Err.find(words)) << run.Err;
        EXPECT_EQ(0, run.Err.compare(0, 9, "kxvplay: ")) << run.Err;
        // One line: the message and its end of line.
        EXPECT_EQ(run.Err.size() - 1, run.Err.find('\n')) << run.Err;
    }

    std::wstring path;
};

TEST_F(ErrorPathTest, UsageMistakesExitWithOne) {
    ExpectFailure(Kxvplay({}), 1, "no command");
    ExpectFailure(Kxvplay({L"rewind", path}), 1, "unknown command");
    ExpectFailure(Kxvplay({L"play", path, L"--rate", L"0.1"}), 1, "--rate");
    ExpectFailure(Kxvplay({L"play", path, L"--start", L"abc"}), 1, "needs a number");
    ExpectFailure(Kxvplay({L"info", path, L"--every", L"2"}), 1, "has no option --every");
    ExpectFailure(Kxvplay({L"export", path}), 1, "takes 2 paths");
    ExpectFailure(Kxvplay({L"export", path, L"-"}), 1, "needs --format y4m or --format wav");
    ExpectFailure(Kxvplay({L"export", path, L"-", L"--format", L"avi"}), 1, "AVI cannot go to standard output");
    ExpectFailure(Kxvplay({L"export", path, L"out.mp4", L"--format", L"mp4"}), 1, "--format is avi, y4m or wav");
    ExpectFailure(Kxvplay({L"play", path, L"--start", L"2", L"--stop", L"1"}), 1, "--stop must be after --start");
    ExpectFailure(Kxvplay({L"play", path, L"--start", L"5"}), 1, "not before the end");
}

TEST_F(ErrorPathTest, HelpListsCommandsAndExitCodes) {
    const ChildResult all = Kxvplay({L"--help"});
    EXPECT_EQ(0, all.ExitCode);
    for (const char* word : {"kxvplay info", "kxvplay play", "kxvplay export", "kxvplay frames", "kxvplay sheet",
                             "Exit codes", "regsvr32 KXVDSrc.ax"}) {
        EXPECT_NE(std::string::npos, all.Out.find(word)) << word;
    }
    for (const wchar_t* command : {L"info", L"play", L"export", L"frames", L"sheet"}) {
        const ChildResult one = Kxvplay({command, L"--help"});
        EXPECT_EQ(0, one.ExitCode);
        EXPECT_NE(std::string::npos, one.Out.find("Exit codes")) << one.Out;
    }
}

TEST_F(ErrorPathTest, MissingFileAndFolderExitWithTwo) {
    ExpectFailure(Kxvplay({L"info", Temp.File(L"absent.kxr")}), 2, "file not found");
    ExpectFailure(Kxvplay({L"play", Temp.File(L"")}), 2, "folder");
}

TEST_F(ErrorPathTest, FileTheLibraryRefusesExitsWithFive) {
    const std::wstring junk = Temp.File(L"junk.kxr");
    FILE* file = _wfopen(junk.c_str(), L"wb");
    ASSERT_NE(nullptr, file);
    fputs("this is not a recording at all, just some words in a file", file);
    fclose(file);
    ExpectFailure(Kxvplay({L"info", junk}), 5, "recording refused");
}

TEST_F(ErrorPathTest, ConnectionFailureExitsWithSixNamingTheHresult) {
    // The video pin refuses pictures narrower than 176, so the graph cannot
    // connect it.
    RecordingPlan narrow;
    narrow.Width = 160;
    narrow.Height = 112;
    narrow.DurationMs = 1000;
    const ChildResult run = Kxvplay({L"play", Recording(L"narrow.kxr", narrow)});
    ExpectFailure(run, 6, "graph failure");
    EXPECT_NE(std::string::npos, run.Err.find(" 0x8")) << run.Err;
    EXPECT_NE(std::string::npos, run.Err.find("_E_")) << "no HRESULT name in: " << run.Err;
}

TEST_F(ErrorPathTest, UnwritableOutputExitsWithSeven) {
    ExpectFailure(Kxvplay({L"sheet", path, Temp.File(L"no-such-folder\\sheet.png")}), 7, "does not exist");
    ExpectFailure(Kxvplay({L"export", path, Temp.File(L"")}), 7, "folder");
}

TEST_F(ErrorPathTest, UnregisteredFilterExitsWithThreeAndSaysHowToRegister) {
    RegistrationRestorer restore;
    ASSERT_TRUE(CallRegistration(ModulePath(), "DllUnregisterServer"));
    ExpectFailure(Kxvplay({L"info", path}), 3, "regsvr32 KXVDSrc.ax");
}

TEST_F(ErrorPathTest, MissingPlaybackLibraryExitsWithFour) {
    // kxvplay and a registered module in a folder without the library, run
    // from there, so neither the module's folder nor the search path has it.
    const std::wstring lone = Temp.File(L"lone");
    ASSERT_TRUE(CreateDirectoryW(lone.c_str(), nullptr));
    ASSERT_TRUE(CopyFileW((BinFolder() + L"kxvplay.exe").c_str(), (lone + L"\\kxvplay.exe").c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(ModulePath().c_str(), (lone + L"\\KXVDSrc.ax").c_str(), FALSE));
    RegistrationRestorer restore;
    ASSERT_TRUE(CallRegistration(lone + L"\\KXVDSrc.ax", "DllRegisterServer"));
    const ChildResult run = KxvplayAt(lone + L"\\kxvplay.exe", {L"info", path}, lone);
    ExpectFailure(run, 4, "VUVezaVID.dll");
}

}  // namespace
