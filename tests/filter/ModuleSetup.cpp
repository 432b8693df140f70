#include "ModuleSetup.h"

#include "common/WidePath.h"
#include "common/KXVDSrcClsid.h"

#include <windows.h>
#include <dshow.h>
#include <propsys.h>
#include <thumbcache.h>

std::wstring ModulePath() {
    std::wstring exe;
    CWidePath::OfModule(nullptr, &exe);
    return CWidePath::FolderOf(exe) + KXVDSourceModuleName;
}

std::wstring CopyModuleInto(const std::wstring& target) {
    const std::wstring folder = target.back() == L'\\' ? target : target + L"\\";
    const std::wstring copy = folder + KXVDSourceModuleName;
    if (!CopyFileW(ModulePath().c_str(), copy.c_str(), FALSE)) return std::wstring();
#ifdef _WIN64
    std::wstring helper = ModulePath();
    helper.resize(helper.find_last_of(L'\\') + 1);
    if (!CopyFileW((helper + L"KXVDHost.exe").c_str(), (folder + L"KXVDHost.exe").c_str(), FALSE)) {
        return std::wstring();
    }
#endif
    return copy;
}

bool RegisterModule() {
    HMODULE module = LoadLibraryW(ModulePath().c_str());
    if (!module) return false;
    using Entry = HRESULT(STDAPICALLTYPE*)();
    Entry registerServer = reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(module, "DllRegisterServer")));
    const bool registered = registerServer && SUCCEEDED(registerServer());
    FreeLibrary(module);
    return registered;
}

long InstallFileTypes(bool install, const wchar_t* list) {
    HMODULE module = LoadLibraryW(ModulePath().c_str());
    if (!module) return HRESULT_FROM_WIN32(GetLastError());
    using Entry = HRESULT(STDAPICALLTYPE*)(BOOL, LPCWSTR);
    Entry entry = reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(module, "DllInstall")));
    const HRESULT result = entry ? entry(install ? TRUE : FALSE, list) : E_NOINTERFACE;
    FreeLibrary(module);
    return result;
}

bool ModuleIsLoaded() {
    return GetModuleHandleW(KXVDSourceModuleName) != nullptr;
}

long ModuleCanUnloadNow() {
    using CanUnloadNow = HRESULT(STDAPICALLTYPE*)();
    HMODULE module = GetModuleHandleW(KXVDSourceModuleName);
    if (!module) return E_FAIL;
    auto entry = reinterpret_cast<CanUnloadNow>(reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")));
    return entry ? entry() : E_FAIL;
}

long LoadThroughModule(const wchar_t* modulePath, const wchar_t* recording) {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    HRESULT result = E_UNEXPECTED;
    HMODULE loaded = LoadLibraryW(modulePath);
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
    return result;
}

long LoadThroughRegistration(const wchar_t* recording) {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    IFileSourceFilter* source = nullptr;
    HRESULT result = CoCreateInstance(CLSID_KXVDSource, nullptr, CLSCTX_INPROC_SERVER, IID_IFileSourceFilter,
                                      reinterpret_cast<void**>(&source));
    if (SUCCEEDED(result)) {
        result = source->Load(recording, nullptr);
        source->Release();
    }
    CoUninitialize();
    return result;
}

long ShellHandlersThroughModule(const wchar_t* modulePath, const wchar_t* recording) {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    HMODULE loaded = LoadLibraryW(modulePath);
    using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    auto entry = loaded ? reinterpret_cast<GetClassObject>(reinterpret_cast<void*>(GetProcAddress(loaded, "DllGetClassObject")))
                        : nullptr;
    HRESULT results[2] = {E_UNEXPECTED, E_UNEXPECTED};
    bool late = false;
    const CLSID* classes[2] = {&CLSID_KXVDThumbnailProvider, &CLSID_KXVDPropertyHandler};
    for (int i = 0; i < 2 && entry; ++i) {
        IClassFactory* factory = nullptr;
        if (FAILED(entry(*classes[i], IID_IClassFactory, reinterpret_cast<void**>(&factory)))) continue;
        IInitializeWithFile* handler = nullptr;
        if (SUCCEEDED(factory->CreateInstance(nullptr, __uuidof(IInitializeWithFile), reinterpret_cast<void**>(&handler)))) {
            const DWORD begin = GetTickCount();
            results[i] = handler->Initialize(recording, STGM_READ);
            IThumbnailProvider* provider = nullptr;
            if (SUCCEEDED(results[i]) &&
                SUCCEEDED(handler->QueryInterface(__uuidof(IThumbnailProvider), reinterpret_cast<void**>(&provider)))) {
                HBITMAP bitmap = nullptr;
                WTS_ALPHATYPE alpha = WTSAT_UNKNOWN;
                results[i] = provider->GetThumbnail(64, &bitmap, &alpha);
                if (bitmap) DeleteObject(bitmap);
                provider->Release();
            }
            late = late || GetTickCount() - begin > ShellCallLimitMs;
            handler->Release();
        }
        factory->Release();
    }
    CoUninitialize();
    if (late) return HRESULT_FROM_WIN32(ERROR_TIMEOUT);
    return results[0] == results[1] ? results[0] : S_FALSE;
}

bool WriteNonProgram(const std::wstring& path) {
    HANDLE fake = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (fake == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool whole = WriteFile(fake, "not a program", 13, &written, nullptr) && written == 13;
    CloseHandle(fake);
    return whole;
}

bool RunBesideLoneModule(const std::wstring& folder, const std::wstring& arguments, unsigned long* exitCode) {
    std::wstring self;
    if (FAILED(CWidePath::OfModule(nullptr, &self))) return false;
    const std::wstring program = (folder.back() == L'\\' ? folder : folder + L"\\") + L"lonely.exe";
    if (CopyModuleInto(folder).empty() || !CopyFileW(self.c_str(), program.c_str(), FALSE)) return false;
    return RunChildProcess(program, arguments, 60000, exitCode);
}

bool RunChildProcess(const std::wstring& program, const std::wstring& arguments, unsigned long timeoutMs,
                     unsigned long* exitCode) {
    std::wstring command = L"\"" + program + L"\" " + arguments;
    const std::wstring folder = program.substr(0, program.find_last_of(L'\\'));
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(program.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &startup,
                        &process)) {
        return false;
    }
    const bool finished = WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_OBJECT_0;
    DWORD code = 0;
    if (finished) {
        GetExitCodeProcess(process.hProcess, &code);
    } else {
        TerminateProcess(process.hProcess, 1);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    *exitCode = code;
    return finished;
}
