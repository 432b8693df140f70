// A scripted stand-in for the playback library, for unit tests of the reader:
// records every call in order, answers as the test sets it, and keeps the
// registered callback and window so the test can deliver pictures, sound and
// notices itself, on its own thread.
//
// One per process at a time (the library's functions carry no context):
// constructing it makes it the target of Api(); its state is guarded by Lock,
// since the reader's message thread also calls in.
#pragma once

#include "common/KXPlayApi.h"

#include <functional>
#include <mutex>
#include <string>
#include <vector>

class CFakePlayLibrary {
public:
    CFakePlayLibrary();
    ~CFakePlayLibrary();
    CFakePlayLibrary(const CFakePlayLibrary&) = delete;
    CFakePlayLibrary& operator=(const CFakePlayLibrary&) = delete;

    const KXPlayApi* Api() const { return &Table; }

    // Scripted answers.
    void RefuseOpen(bool refuse);
    void SetAnswers(BOOL play, BOOL pause, BOOL seek);
    void SetInfo(LONG totalFrames, DWORD durationMs);
    // Runs once inside the next Play, on the caller's thread, as a library
    // whose decoding starts at once would call back before Play returns.
    void DuringNextPlay(std::function<void()> hook);
    // Runs once inside the next GetFileTotalFrames, on the caller's thread
    // (the reader's message thread, answering an information notice).
    void DuringNextInfo(std::function<void()> hook);
    // Runs once inside the next Stop, or the next removal of the callback
    // (before the callback is forgotten), on the caller's thread: a library
    // that waits there for a callback in progress to return.
    void DuringNextStop(std::function<void()> hook);
    void DuringNextRemoval(std::function<void()> hook);

    // Calls so far, e.g. "Open", "Play:0", "SetPlayedTimeEx:5000"; and clearing them.
    std::vector<std::string> Calls();
    void ForgetCalls();
    int CountOf(const std::string& call);

    // Delivers through the registered callback; false when none is registered.
    bool Picture(int32_t width, int32_t height, uint8_t fill, long length = -1);
    bool Sound(const void* data, long length);
    bool Deliver(int32_t type, int32_t width, int32_t height, const void* data, long length);
    // Posts a notice to the registered window.
    bool Post(UINT message);

    HWND Window();

private:
    static CFakePlayLibrary* Current;
    static CFakePlayLibrary& Me() { return *Current; }
    void Note(const std::string& call);
    // Takes the hook out of its slot under Lock and runs it without.
    void RunOnce(std::function<void()> CFakePlayLibrary::*slot);

    static KXPLAYHANDLE KX_PLAY_CALL OpenFileExW(const wchar_t* path);
    static BOOL KX_PLAY_CALL CloseFile(KXPLAYHANDLE h);
    static BOOL KX_PLAY_CALL SetMsgWnd(KXPLAYHANDLE h, HWND wnd);
    static BOOL KX_PLAY_CALL SetFileEndMsg(KXPLAYHANDLE h, HWND wnd, UINT msg);
    static BOOL KX_PLAY_CALL SetDecCallBackEx(KXPLAYHANDLE h, KXDecodeCallback cb, void* user,
                                              long reserved, long mode);
    static BOOL KX_PLAY_CALL SetDecodeMode(KXPLAYHANDLE h, long mode);
    static BOOL KX_PLAY_CALL SetPlayOption(KXPLAYHANDLE h, long option, long value);
    static BOOL KX_PLAY_CALL Play(KXPLAYHANDLE h, HWND wnd);
    static BOOL KX_PLAY_CALL Pause(KXPLAYHANDLE h);
    static BOOL KX_PLAY_CALL Stop(KXPLAYHANDLE h);
    static BOOL KX_PLAY_CALL SetPlayedTimeEx(KXPLAYHANDLE h, DWORD ms);
    static LONG KX_PLAY_CALL GetFileTotalFrames(KXPLAYHANDLE h);
    static DWORD KX_PLAY_CALL GetFileTimeMilliSec(KXPLAYHANDLE h);

    KXPlayApi Table{};
    std::mutex Lock;
    std::vector<std::string> Log;
    bool Refuse = false;
    BOOL PlayAnswer = TRUE;
    BOOL PauseAnswer = TRUE;
    BOOL SeekAnswer = TRUE;
    LONG Frames = -1;
    DWORD Duration = 0;
    KXDecodeCallback Callback = nullptr;
    void* User = nullptr;
    HWND Wnd = nullptr;
    int Opened = 0;
    std::vector<uint8_t> Scratch;
    std::function<void()> PlayHook;
    std::function<void()> InfoHook;
    std::function<void()> StopHook;
    std::function<void()> RemovalHook;
};
