#include "reader/PlayLibrary.h"

#include "common/LibraryFolder.h"

#include <string>

namespace {

const wchar_t LibraryName[] = L"VUVezaVID.dll";

// Folder (with trailing separator) of the module that contains this code, or
// empty when it cannot be found.
std::wstring OwnFolder() {
    HMODULE self = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&OwnFolder), &self)) {
        return std::wstring();
    }
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(self, &path[0], static_cast<DWORD>(path.size()));
        if (length == 0) return std::wstring();
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);
    }
    const size_t slash = path.find_last_of(L"\\/");
    if (slash == std::wstring::npos) return std::wstring();
    return path.substr(0, slash + 1);
}

// The maker's library may bring DLLs of its own beside it: they are found
// from its folder, not from the application's.
HMODULE LoadFrom(const std::wstring& folder) {
    if (folder.empty()) return nullptr;
    return LoadLibraryExW((folder + LibraryName).c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

template <typename Fn>
bool Find(HMODULE module, const char* name, Fn& target) {
    target = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    return target != nullptr;
}

}  // namespace

CPlayLibrary::CPlayLibrary() {
    Module = LoadFrom(OwnFolder());
    if (!Module) Module = LoadFrom(RecordedLibraryFolder());
    if (!Module) Module = LoadLibraryW(LibraryName);
    Complete = Resolve();
}

CPlayLibrary::CPlayLibrary(const wchar_t* path) {
    if (path) Module = LoadLibraryW(path);
    Complete = Resolve();
}

CPlayLibrary::~CPlayLibrary() {
    if (Module) FreeLibrary(Module);
}

bool CPlayLibrary::Resolve() {
    if (!Module) return false;
    bool all = true;
    all &= Find(Module, "KX_PLAY_OpenFileExW", Table.OpenFileExW);
    all &= Find(Module, "KX_PLAY_CloseFile", Table.CloseFile);
    all &= Find(Module, "KX_PLAY_SetMsgWnd", Table.SetMsgWnd);
    all &= Find(Module, "KX_PLAY_SetFileEndMsg", Table.SetFileEndMsg);
    all &= Find(Module, "KX_PLAY_SetDecCallBackEx", Table.SetDecCallBackEx);
    all &= Find(Module, "KX_PLAY_SetDecodeMode", Table.SetDecodeMode);
    all &= Find(Module, "KX_PLAY_SetPlayOption", Table.SetPlayOption);
    all &= Find(Module, "KX_PLAY_Play", Table.Play);
    all &= Find(Module, "KX_PLAY_Pause", Table.Pause);
    all &= Find(Module, "KX_PLAY_Stop", Table.Stop);
    all &= Find(Module, "KX_PLAY_SetPlayedTimeEx", Table.SetPlayedTimeEx);
    all &= Find(Module, "KX_PLAY_GetFileTotalFrames", Table.GetFileTotalFrames);
    all &= Find(Module, "KX_PLAY_GetFileTimeMilliSec", Table.GetFileTimeMilliSec);
    return all;
}

const CPlayLibrary& CPlayLibrary::Shared() {
    static const CPlayLibrary* const Instance = new CPlayLibrary();
    return *Instance;
}
