// What every graph test needs from the prefix: the module registered, so
// that COM finds it by its class id as it does for applications.
#pragma once

#include <string>

// Full path of the module (KXVDSrc.ax, or KXVDSrc64.ax in the 64-bit build)
// beside the test executable.
std::wstring ModulePath();
// Copies the module into a folder (with its helper KXVDHost.exe in the 64-bit
// build, where the two belong together); the copy's path, empty on failure.
std::wstring CopyModuleInto(const std::wstring& folder);
// Registers the module through its own export; false when that fails.
bool RegisterModule();
// Calls the module's DllInstall (file types by path) and answers its result.
long InstallFileTypes(bool install, const wchar_t* list);
// Whether the module is loaded in this process right now.
bool ModuleIsLoaded();
// DllCanUnloadNow of the loaded module; S_OK when no object of it is alive
// (its live-object count is 0 and no server lock is held). E_FAIL when the
// module is not loaded.
long ModuleCanUnloadNow();
// For a child process: loads the module at modulePath (not the registered
// one), creates the filter through the module's own class object and
// answers Load's result for recording (E_UNEXPECTED when it got no filter).
long LoadThroughModule(const wchar_t* modulePath, const wchar_t* recording);
// For a child process: creates the filter through COM by its class id, as
// applications do (so from the registered module), and answers Load's result
// for recording.
long LoadThroughRegistration(const wchar_t* recording);
// For a child process: loads the module at modulePath, creates its thumbnail
// provider and property handler through its own class objects, initialises
// both with recording and asks for a thumbnail; the common result of the two
// (S_FALSE when they differ, HRESULT_FROM_WIN32(ERROR_TIMEOUT) when either
// took longer than ShellCallLimitMs).
// The handlers' 5 s bound and the slack a loaded machine needs around it.
constexpr unsigned long ShellCallLimitMs = 8000;
long ShellHandlersThroughModule(const wchar_t* modulePath, const wchar_t* recording);
// Something that is no program at all, written under path (a helper that
// cannot start); false when it cannot be written.
bool WriteNonProgram(const std::wstring& path);
// Copies the module (CopyModuleInto) and this program into folder, which
// holds no playback library, and runs the copy there with arguments, at most
// 60 s. True with its exit code when it ended.
bool RunBesideLoneModule(const std::wstring& folder, const std::wstring& arguments, unsigned long* exitCode);
// Starts program with arguments in program's own folder (the working folder
// is on the library search path) and waits for it at most timeoutMs. True
// with its exit code when it ended; false, after ending it, when it did not.
bool RunChildProcess(const std::wstring& program, const std::wstring& arguments, unsigned long timeoutMs,
                     unsigned long* exitCode);
