#include "tools/kxrec/DecodeSession.h"

#include "tools/kxrec/DecodeCollector.h"

#include <memory>

namespace kxrec {

namespace {

struct LibraryCloser {
    void operator()(HMODULE module) const { FreeLibrary(module); }
};

struct WindowCloser {
    void operator()(HWND wnd) const { DestroyWindow(wnd); }
};

constexpr wchar_t WindowClass[] = L"KXRecDecodeWindow";

template <typename T>
bool Resolve(HMODULE module, const char* name, T* fn) {
    *fn = reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    return *fn != nullptr;
}

}  // namespace

bool CDecodeSession::Run(const std::wstring& libraryPath, const std::wstring& recording, DWORD timeoutMs,
                         DecodeReport* report) {
    std::unique_ptr<HINSTANCE__, LibraryCloser> library(LoadLibraryW(libraryPath.c_str()));
    if (!library) {
        Error = "cannot load the playback library";
        return false;
    }
    KXPlayApi api{};
    HMODULE m = library.get();
    if (!Resolve(m, "KX_PLAY_OpenFileExW", &api.OpenFileExW) || !Resolve(m, "KX_PLAY_CloseFile", &api.CloseFile) ||
        !Resolve(m, "KX_PLAY_SetMsgWnd", &api.SetMsgWnd) || !Resolve(m, "KX_PLAY_SetFileEndMsg", &api.SetFileEndMsg) ||
        !Resolve(m, "KX_PLAY_SetDecCallBackEx", &api.SetDecCallBackEx) ||
        !Resolve(m, "KX_PLAY_SetDecodeMode", &api.SetDecodeMode) ||
        !Resolve(m, "KX_PLAY_SetPlayOption", &api.SetPlayOption) || !Resolve(m, "KX_PLAY_Play", &api.Play) ||
        !Resolve(m, "KX_PLAY_Pause", &api.Pause) || !Resolve(m, "KX_PLAY_Stop", &api.Stop) ||
        !Resolve(m, "KX_PLAY_SetPlayedTimeEx", &api.SetPlayedTimeEx) ||
        !Resolve(m, "KX_PLAY_GetFileTotalFrames", &api.GetFileTotalFrames) ||
        !Resolve(m, "KX_PLAY_GetFileTimeMilliSec", &api.GetFileTimeMilliSec)) {
        Error = "the playback library lacks one of its thirteen functions";
        return false;
    }
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = WindowClass;
    RegisterClassW(&wc);
    std::unique_ptr<HWND__, WindowCloser> window(
        CreateWindowExW(0, WindowClass, L"", 0, 0, 0, 0, 0, nullptr, nullptr, wc.hInstance, nullptr));
    if (!window) {
        Error = "cannot create the notice window";
        return false;
    }
    KXPLAYHANDLE handle = api.OpenFileExW(recording.c_str());
    if (handle == nullptr) {
        Error = "the playback library refused the recording";
        return false;
    }
    CDecodeCollector collector;
    api.SetMsgWnd(handle, window.get());
    api.SetFileEndMsg(handle, window.get(), KX_MSG_FILE_END);
    api.SetDecCallBackEx(handle, &CDecodeCollector::Callback, &collector, 0, KX_DECODE_YUY2);
    api.SetDecodeMode(handle, 1);
    api.SetPlayOption(handle, 0, 1);
    api.SetDecodeMode(handle, 1);
    api.Play(handle, nullptr);

    bool info = false;
    bool end = false;
    LONG frames = -1;
    DWORD duration = 0;
    const DWORD start = GetTickCount();
    while (!(info && end)) {
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= timeoutMs) break;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, timeoutMs - elapsed, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == KX_MSG_FILE_INFO) {
                info = true;
                frames = api.GetFileTotalFrames(handle);
                duration = api.GetFileTimeMilliSec(handle);
            } else if (msg.message == KX_MSG_FILE_END) {
                end = true;
            } else {
                DispatchMessageW(&msg);
            }
        }
    }
    api.SetDecCallBackEx(handle, nullptr, nullptr, 0, 0);
    api.CloseFile(handle);
    *report = collector.Snapshot();
    report->infoReceived = info;
    report->totalFrames = frames;
    report->durationMs = duration;
    report->endReceived = end;
    return true;
}

}  // namespace kxrec
