#include "bench/LibraryDecodeRun.h"

#include "bench/ModuleFactory.h"
#include "bench/Stopwatch.h"

namespace {

template <typename Function>
bool Resolve(HMODULE module, const char* name, Function* function) {
    *function = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    return *function != nullptr;
}

}  // namespace

CLibraryDecodeRun::CLibraryDecodeRun() : Done(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {
    Library = LoadLibraryW(CModuleFactory::BesideExecutable(L"VUVezaVID.dll").c_str());
    Resolved = Library && Resolve(Library, "KX_PLAY_OpenFileExW", &Api.OpenFileExW) &&
               Resolve(Library, "KX_PLAY_CloseFile", &Api.CloseFile) &&
               Resolve(Library, "KX_PLAY_SetDecCallBackEx", &Api.SetDecCallBackEx) &&
               Resolve(Library, "KX_PLAY_SetDecodeMode", &Api.SetDecodeMode) &&
               Resolve(Library, "KX_PLAY_SetPlayOption", &Api.SetPlayOption) &&
               Resolve(Library, "KX_PLAY_Play", &Api.Play);
}

CLibraryDecodeRun::~CLibraryDecodeRun() {
    if (Done) CloseHandle(Done);
    // The library stays loaded: its decoding threads end on their own.
}

void KX_PLAY_CALL CLibraryDecodeRun::Callback(long, char* data, long length, FrameInfo* info, void* user, long) {
    auto* self = static_cast<CLibraryDecodeRun*>(user);
    if (!info || !data || length <= 0 || info->type != KX_FRAME_YUY2) return;
    if (++self->Pictures == self->Expected) SetEvent(self->Done);
}

bool CLibraryDecodeRun::Run(const std::wstring& recording, uint32_t pictures, DWORD timeoutMs, double* seconds) {
    if (!Resolved || !Done || pictures == 0) return false;
    KXPLAYHANDLE handle = Api.OpenFileExW(recording.c_str());
    if (!handle) return false;
    Pictures = 0;
    Expected = pictures;
    ResetEvent(Done);
    Api.SetDecCallBackEx(handle, &CLibraryDecodeRun::Callback, this, 0, KX_DECODE_YUY2);
    Api.SetDecodeMode(handle, 1);
    Api.SetPlayOption(handle, 0, 1);
    CStopwatch clock;
    Api.Play(handle, nullptr);
    const bool finished = WaitForSingleObject(Done, timeoutMs) == WAIT_OBJECT_0;
    *seconds = clock.Seconds();
    Api.CloseFile(handle);
    return finished;
}
