#include "FakePlayLibrary.h"

#include <algorithm>

CFakePlayLibrary* CFakePlayLibrary::Current = nullptr;

CFakePlayLibrary::CFakePlayLibrary() {
    Current = this;
    Table.OpenFileExW = &OpenFileExW;
    Table.CloseFile = &CloseFile;
    Table.SetMsgWnd = &SetMsgWnd;
    Table.SetFileEndMsg = &SetFileEndMsg;
    Table.SetDecCallBackEx = &SetDecCallBackEx;
    Table.SetDecodeMode = &SetDecodeMode;
    Table.SetPlayOption = &SetPlayOption;
    Table.Play = &Play;
    Table.Pause = &Pause;
    Table.Stop = &Stop;
    Table.SetPlayedTimeEx = &SetPlayedTimeEx;
    Table.GetFileTotalFrames = &GetFileTotalFrames;
    Table.GetFileTimeMilliSec = &GetFileTimeMilliSec;
}

CFakePlayLibrary::~CFakePlayLibrary() { Current = nullptr; }

void CFakePlayLibrary::RefuseOpen(bool refuse) {
    std::lock_guard<std::mutex> hold(Lock);
    Refuse = refuse;
}

void CFakePlayLibrary::SetAnswers(BOOL play, BOOL pause, BOOL seek) {
    std::lock_guard<std::mutex> hold(Lock);
    PlayAnswer = play;
    PauseAnswer = pause;
    SeekAnswer = seek;
}

void CFakePlayLibrary::SetInfo(LONG totalFrames, DWORD durationMs) {
    std::lock_guard<std::mutex> hold(Lock);
    Frames = totalFrames;
    Duration = durationMs;
}

std::vector<std::string> CFakePlayLibrary::Calls() {
    std::lock_guard<std::mutex> hold(Lock);
    return Log;
}

void CFakePlayLibrary::ForgetCalls() {
    std::lock_guard<std::mutex> hold(Lock);
    Log.clear();
}

int CFakePlayLibrary::CountOf(const std::string& call) {
    std::lock_guard<std::mutex> hold(Lock);
    return static_cast<int>(std::count(Log.begin(), Log.end(), call));
}

void CFakePlayLibrary::DuringNextPlay(std::function<void()> hook) {
    std::lock_guard<std::mutex> hold(Lock);
    PlayHook = std::move(hook);
}

void CFakePlayLibrary::DuringNextInfo(std::function<void()> hook) {
    std::lock_guard<std::mutex> hold(Lock);
    InfoHook = std::move(hook);
}

void CFakePlayLibrary::DuringNextStop(std::function<void()> hook) {
    std::lock_guard<std::mutex> hold(Lock);
    StopHook = std::move(hook);
}

void CFakePlayLibrary::DuringNextRemoval(std::function<void()> hook) {
    std::lock_guard<std::mutex> hold(Lock);
    RemovalHook = std::move(hook);
}

void CFakePlayLibrary::RunOnce(std::function<void()> CFakePlayLibrary::*slot) {
    std::function<void()> hook;
    {
        std::lock_guard<std::mutex> hold(Lock);
        hook.swap(this->*slot);
    }
    if (hook) hook();
}

bool CFakePlayLibrary::Picture(int32_t width, int32_t height, uint8_t fill, long length) {
    const long bytes = length >= 0 ? length : static_cast<long>(width) * height * 2;
    Scratch.assign(static_cast<size_t>(bytes > 0 ? bytes : 1), fill);
    return Deliver(KX_FRAME_YUY2, width, height, Scratch.data(), bytes);
}

bool CFakePlayLibrary::Sound(const void* data, long length) {
    return Deliver(KX_FRAME_PCM, 0, 0, data, length);
}

bool CFakePlayLibrary::Deliver(int32_t type, int32_t width, int32_t height, const void* data,
                               long length) {
    KXDecodeCallback callback;
    void* user;
    {
        std::lock_guard<std::mutex> hold(Lock);
        callback = Callback;
        user = User;
    }
    if (!callback) return false;
    FrameInfo info{width, height, 0, type};
    callback(0, static_cast<char*>(const_cast<void*>(data)), length, &info, user, 0);
    return true;
}

bool CFakePlayLibrary::Post(UINT message) {
    const HWND wnd = Window();
    return wnd && PostMessageA(wnd, message, 0, 0);
}

HWND CFakePlayLibrary::Window() {
    std::lock_guard<std::mutex> hold(Lock);
    return Wnd;
}

void CFakePlayLibrary::Note(const std::string& call) {
    std::lock_guard<std::mutex> hold(Lock);
    Log.push_back(call);
}

KXPLAYHANDLE KX_PLAY_CALL CFakePlayLibrary::OpenFileExW(const wchar_t*) {
    Me().Note("Open");
    std::lock_guard<std::mutex> hold(Me().Lock);
    if (Me().Refuse) return nullptr;
    return reinterpret_cast<KXPLAYHANDLE>(static_cast<intptr_t>(0x1000 + ++Me().Opened));
}

BOOL KX_PLAY_CALL CFakePlayLibrary::CloseFile(KXPLAYHANDLE) {
    Me().Note("Close");
    std::lock_guard<std::mutex> hold(Me().Lock);
    Me().Callback = nullptr;
    Me().User = nullptr;
    return TRUE;
}

BOOL KX_PLAY_CALL CFakePlayLibrary::SetMsgWnd(KXPLAYHANDLE, HWND wnd) {
    Me().Note("SetMsgWnd");
    std::lock_guard<std::mutex> hold(Me().Lock);
    Me().Wnd = wnd;
    return TRUE;
}

BOOL KX_PLAY_CALL CFakePlayLibrary::SetFileEndMsg(KXPLAYHANDLE, HWND, UINT msg) {
    Me().Note("SetFileEndMsg:" + std::to_string(msg));
    return TRUE;
}

BOOL KX_PLAY_CALL CFakePlayLibrary::SetDecCallBackEx(KXPLAYHANDLE, KXDecodeCallback cb, void* user,
                                                     long reserved, long mode) {
    Me().Note(cb ? "SetCallback:" + std::to_string(reserved) + "," + std::to_string(mode)
                 : "RemoveCallback:" + std::to_string(reserved) + "," + std::to_string(mode) +
                       (user ? ",user" : ""));
    if (!cb) Me().RunOnce(&CFakePlayLibrary::RemovalHook);
    std::lock_guard<std::mutex> hold(Me().Lock);
    Me().Callback = cb;
    Me().User = user;
    return TRUE;
}

BOOL KX_PLAY_CALL CFakePlayLibrary::SetDecodeMode(KXPLAYHANDLE, long mode) {
    Me().Note("SetDecodeMode:" + std::to_string(mode));
    return TRUE;
}

BOOL KX_PLAY_CALL CFakePlayLibrary::SetPlayOption(KXPLAYHANDLE, long option, long value) {
    Me().Note("SetPlayOption:" + std::to_string(option) + "," + std::to_string(value));
    return TRUE;
}

BOOL KX_PLAY_CALL CFakePlayLibrary::Play(KXPLAYHANDLE, HWND wnd) {
    Me().Note(wnd ? "Play:window" : "Play:0");
    Me().RunOnce(&CFakePlayLibrary::PlayHook);
    std::lock_guard<std::mutex> hold(Me().Lock);
    return Me().PlayAnswer;
}

BOOL KX_PLAY_CALL CFakePlayLibrary::Pause(KXPLAYHANDLE) {
    Me().Note("Pause");
    std::lock_guard<std::mutex> hold(Me().Lock);
    return Me().PauseAnswer;
}

BOOL KX_PLAY_CALL CFakePlayLibrary::Stop(KXPLAYHANDLE) {
    Me().Note("Stop");
    Me().RunOnce(&CFakePlayLibrary::StopHook);
    return TRUE;
}

BOOL KX_PLAY_CALL CFakePlayLibrary::SetPlayedTimeEx(KXPLAYHANDLE, DWORD ms) {
    Me().Note("SetPlayedTimeEx:" + std::to_string(ms));
    std::lock_guard<std::mutex> hold(Me().Lock);
    return Me().SeekAnswer;
}

LONG KX_PLAY_CALL CFakePlayLibrary::GetFileTotalFrames(KXPLAYHANDLE) {
    Me().Note("TotalFrames");
    Me().RunOnce(&CFakePlayLibrary::InfoHook);
    std::lock_guard<std::mutex> hold(Me().Lock);
    return Me().Frames;
}

DWORD KX_PLAY_CALL CFakePlayLibrary::GetFileTimeMilliSec(KXPLAYHANDLE) {
    Me().Note("Duration");
    std::lock_guard<std::mutex> hold(Me().Lock);
    return Me().Duration;
}
