// Faults of the 64-bit module's helper: missing or refusing to start fails
// Load with its own code; one that crashes or stops answering while a graph
// runs ends that graph's streams with EC_ERRORABORT within a bound, and the
// graph stops and is released without hanging; and no helper outlives the
// process that started it.
#include "Bounded.h"
#include "GraphRig.h"
#include "ModuleFixture.h"
#include "ModuleSetup.h"
#include "common/WidePath.h"
#include "common/KXVDSrcClsid.h"

#include <tlhelp32.h>

#include <algorithm>
#include <vector>

namespace {

constexpr DWORD StateLimitMs = 10000;
// The module gives up on a call after 10 s; the abort must come within this.
constexpr DWORD AbortLimitMs = 20000;

// The helpers (KXVDHost.exe) started by the process parent.
std::vector<DWORD> HelpersOf(DWORD parent) {
    std::vector<DWORD> helpers;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return helpers;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        if (entry.th32ParentProcessID == parent && lstrcmpiW(entry.szExeFile, L"KXVDHost.exe") == 0) {
            helpers.push_back(entry.th32ProcessID);
        }
    }
    CloseHandle(snapshot);
    return helpers;
}

// Waits, polling, until the process parent has no helper left.
bool HelpersGone(DWORD parent, DWORD timeoutMs) {
    const DWORD begin = GetTickCount();
    while (!HelpersOf(parent).empty()) {
        if (GetTickCount() - begin >= timeoutMs) return false;
        Sleep(50);
    }
    return true;
}

// Suspends the whole process (its threads, and any it would start): it stays
// alive and answers nothing.
bool Freeze(DWORD process) {
    using SuspendProcess = LONG(NTAPI*)(HANDLE);
    auto suspend = reinterpret_cast<SuspendProcess>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtSuspendProcess")));
    HANDLE handle = OpenProcess(PROCESS_SUSPEND_RESUME, FALSE, process);
    const bool frozen = suspend && handle && suspend(handle) >= 0;
    if (handle) CloseHandle(handle);
    return frozen;
}

class HelperFaultTest : public ModuleTest {
protected:
    // Runs a clocked graph on a recording until pictures flow; the id of the
    // helper its filter started.
    DWORD RunningHelper(CGraphRig* rig) {
        const std::vector<DWORD> known = HelpersOf(GetCurrentProcessId());
        RecordingPlan plan;
        plan.DurationMs = 20000;
        RigOptions options;
        options.Clock = true;
        EXPECT_EQ(S_OK, rig->Build(Recording(L"fault.kxr", plan), options));
        std::vector<DWORD> started;
        for (DWORD id : HelpersOf(GetCurrentProcessId())) {
            if (std::find(known.begin(), known.end(), id) == known.end()) started.push_back(id);
        }
        EXPECT_EQ(1u, started.size()) << "one helper per loaded file";
        EXPECT_TRUE(SUCCEEDED(rig->Control->Run()));
        EXPECT_TRUE(rig->VideoLog.WaitForCount(3, 20000)) << "no pictures before the fault";
        return started.size() == 1 ? started[0] : 0;
    }

    // The graph ends with EC_ERRORABORT carrying fault, then stops within
    // the bound, and its helper is gone.
    void ExpectAbortWith(CGraphRig* rig, DWORD helper, HRESULT fault) {
        // The streams end downstream before they report the fault, so the
        // graph's EC_COMPLETE may come first.
        const DWORD begin = GetTickCount();
        for (DWORD spent = 0; rig->LastAbortCode() == 0 && spent < AbortLimitMs; spent = GetTickCount() - begin) {
            rig->WaitForComplete(AbortLimitMs - spent);
        }
        EXPECT_EQ(fault, rig->LastAbortCode()) << "no EC_ERRORABORT with the fault within " << AbortLimitMs << " ms";
        IMediaControl* control = rig->Control.Get();
        ASSERT_TRUE(RunBounded([control] { control->Stop(); }, StateLimitMs)) << "Stop hung after the fault";
        HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, helper);
        if (process) {
            EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process, StateLimitMs)) << "the failed helper is still there";
            CloseHandle(process);
        }
    }
};

TEST_F(HelperFaultTest, MissingOrRefusingHelperFailsLoadWithItsOwnCode) {
    RecordingPlan plan;
    plan.DurationMs = 400;
    const std::wstring recording = Recording(L"good.kxr", plan);
    std::wstring exe;
    ASSERT_EQ(S_OK, CWidePath::OfModule(nullptr, &exe));
    const std::wstring program = Temp.File(L"child.exe");
    const std::wstring module = Temp.File(KXVDSourceModuleName);
    ASSERT_TRUE(CopyFileW(exe.c_str(), program.c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(ModulePath().c_str(), module.c_str(), FALSE));
    const std::wstring arguments = L"--load-child \"" + module + L"\" \"" + recording + L"\"";

    DWORD code = 0;
    ASSERT_TRUE(RunChildProcess(program, arguments, 60000, &code)) << "the child did not finish within 60 s";
    EXPECT_EQ(static_cast<DWORD>(HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND)), code) << "Load without KXVDHost.exe";

    ASSERT_TRUE(WriteNonProgram(Temp.File(L"KXVDHost.exe")));
    ASSERT_TRUE(RunChildProcess(program, arguments, 60000, &code)) << "the child did not finish within 60 s";
    EXPECT_EQ(static_cast<DWORD>(CO_E_SERVER_EXEC_FAILURE), code) << "Load with a helper that cannot start";
    ExpectGoodLoad();
}

TEST_F(HelperFaultTest, CrashedHelperAbortsItsGraphOnly) {
    CGraphRig rig, other;
    RecordingPlan plan;
    plan.DurationMs = 3000;
    ASSERT_EQ(S_OK, other.Build(Recording(L"other.kxr", plan), RigOptions()));
    const std::vector<DWORD> others = HelpersOf(GetCurrentProcessId());
    const DWORD helper = RunningHelper(&rig);
    ASSERT_NE(0u, helper);
    HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, helper);
    ASSERT_NE(nullptr, process);
    ASSERT_TRUE(TerminateProcess(process, 0xC0000005));
    CloseHandle(process);
    ASSERT_NO_FATAL_FAILURE(ExpectAbortWith(&rig, helper, HRESULT_FROM_WIN32(ERROR_PROCESS_ABORTED)));
    // The other file's helper plays on.
    ASSERT_TRUE(SUCCEEDED(other.Control->Run()));
    EXPECT_TRUE(other.WaitForComplete(60000)) << "the other graph did not complete";
    EXPECT_EQ(plan.FrameCount(), other.VideoLog.Count());
    EXPECT_EQ(others, HelpersOf(GetCurrentProcessId()));
}

TEST_F(HelperFaultTest, HelperThatStopsAnsweringAbortsWithinTheBound) {
    CGraphRig rig;
    const DWORD helper = RunningHelper(&rig);
    ASSERT_NE(0u, helper);
    ASSERT_TRUE(Freeze(helper));
    ASSERT_NO_FATAL_FAILURE(ExpectAbortWith(&rig, helper, HRESULT_FROM_WIN32(ERROR_TIMEOUT)));
    ASSERT_TRUE(RunBounded([&rig] { rig.Graph.Reset(); rig.Source.Reset(); }, StateLimitMs));
}

TEST_F(HelperFaultTest, HelperEndsWithTheProcessThatStartedIt) {
    RecordingPlan plan;
    plan.DurationMs = 2000;
    const std::wstring recording = Recording(L"abandoned.kxr", plan);
    std::wstring exe;
    ASSERT_EQ(S_OK, CWidePath::OfModule(nullptr, &exe));
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION child = {};
    std::wstring command = L"\"" + exe + L"\" --vanish-child \"" + recording + L"\"";
    ASSERT_TRUE(CreateProcessW(exe.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child));
    const bool ended = WaitForSingleObject(child.hProcess, 60000) == WAIT_OBJECT_0;
    if (!ended) TerminateProcess(child.hProcess, 1);
    DWORD code = 0;
    GetExitCodeProcess(child.hProcess, &code);
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
    ASSERT_TRUE(ended) << "the child did not end within 60 s";
    ASSERT_EQ(0u, code) << "the child's Load failed: " << std::hex << code;
    EXPECT_TRUE(HelpersGone(child.dwProcessId, StateLimitMs)) << "a helper outlived the process that started it";
}

}  // namespace
