#include "StandInLibrary.h"

namespace {

template <typename T>
bool Resolve(HMODULE module, const char* name, T* fn) {
    *fn = reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    return *fn != nullptr;
}

}  // namespace

CStandInLibrary::CStandInLibrary() {
    Module = LoadLibraryW(L"VUVezaVID.dll");
    if (Module == nullptr) return;
    KXPlayApi& a = Table;
    Loaded_ = Resolve(Module, "KX_PLAY_OpenFileExW", &a.OpenFileExW) &&
              Resolve(Module, "KX_PLAY_CloseFile", &a.CloseFile) && Resolve(Module, "KX_PLAY_SetMsgWnd", &a.SetMsgWnd) &&
              Resolve(Module, "KX_PLAY_SetFileEndMsg", &a.SetFileEndMsg) &&
              Resolve(Module, "KX_PLAY_SetDecCallBackEx", &a.SetDecCallBackEx) &&
              Resolve(Module, "KX_PLAY_SetDecodeMode", &a.SetDecodeMode) &&
              Resolve(Module, "KX_PLAY_SetPlayOption", &a.SetPlayOption) && Resolve(Module, "KX_PLAY_Play", &a.Play) &&
              Resolve(Module, "KX_PLAY_Pause", &a.Pause) && Resolve(Module, "KX_PLAY_Stop", &a.Stop) &&
              Resolve(Module, "KX_PLAY_SetPlayedTimeEx", &a.SetPlayedTimeEx) &&
              Resolve(Module, "KX_PLAY_GetFileTotalFrames", &a.GetFileTotalFrames) &&
              Resolve(Module, "KX_PLAY_GetFileTimeMilliSec", &a.GetFileTimeMilliSec);
}

CStandInLibrary::~CStandInLibrary() {
    if (Module != nullptr) FreeLibrary(Module);
}
