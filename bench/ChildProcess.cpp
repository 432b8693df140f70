#include "bench/ChildProcess.h"

#include "bench/ModuleFactory.h"

ChildEnd RunBenchChild(const std::wstring& arguments, DWORD timeoutMs, DWORD* exitCode) {
    const std::wstring exe = CModuleFactory::BesideExecutable(L"kxbench.exe");
    std::wstring command = L"\"" + exe + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(exe.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        return ChildEnd::NotStarted;
    }
    const bool ended = WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_OBJECT_0;
    if (!ended) {
        TerminateProcess(process.hProcess, 1);
        WaitForSingleObject(process.hProcess, 10000);
    } else if (exitCode) {
        GetExitCodeProcess(process.hProcess, exitCode);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return ended ? ChildEnd::Ended : ChildEnd::Killed;
}
