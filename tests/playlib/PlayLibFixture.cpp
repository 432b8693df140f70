#include "PlayLibFixture.h"

#include "playlib/RecordingWriter.h"
#include "playlib/TestPattern.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

constexpr wchar_t WindowClass[] = L"KXPlayLibTestWindow";

template <typename T>
bool Resolve(HMODULE module, const char* name, T* fn) {
    *fn = reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    return *fn != nullptr;
}

}  // namespace

CPlayLibrary::CPlayLibrary() {
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

CPlayLibrary::~CPlayLibrary() {
    if (Module != nullptr) FreeLibrary(Module);
}

CNoticeWindow::CNoticeWindow() {
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = WindowClass;
    RegisterClassW(&wc);
    Window = CreateWindowExW(0, WindowClass, L"", 0, 0, 0, 0, 0, nullptr, nullptr, wc.hInstance, nullptr);
}

CNoticeWindow::~CNoticeWindow() {
    if (Window != nullptr) DestroyWindow(Window);
}

CNoticeWindow::WaitResult CNoticeWindow::Wait(UINT msg, DWORD timeoutMs, HANDLE event) {
    const DWORD start = GetTickCount();
    for (;;) {
        MSG m;
        while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
            if (m.hwnd == Window && m.message >= WM_USER) {
                ++Unclaimed[m.message];
                ++Received[m.message];
            } else {
                DispatchMessageW(&m);
            }
        }
        if (Unclaimed[msg] > 0) {
            --Unclaimed[msg];
            return GotMessage;
        }
        if (event != nullptr && WaitForSingleObject(event, 0) == WAIT_OBJECT_0) return GotEvent;
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= timeoutMs) return TimedOut;
        // An auto-reset event is consumed by the wait that sees it.
        if (MsgWaitForMultipleObjects(event != nullptr ? 1 : 0, &event, FALSE, timeoutMs - elapsed, QS_ALLINPUT) ==
                WAIT_OBJECT_0 &&
            event != nullptr) {
            return GotEvent;
        }
    }
}

int CNoticeWindow::Count(UINT msg) const {
    auto it = Received.find(msg);
    return it == Received.end() ? 0 : it->second;
}

CDeliveryLog::CDeliveryLog() {
    InitializeCriticalSection(&Lock);
    InitializeConditionVariable(&Changed);
}

CDeliveryLog::~CDeliveryLog() {
    DeleteCriticalSection(&Lock);
}

void KX_PLAY_CALL CDeliveryLog::Callback(long, char* data, long length, FrameInfo* info, void* user, long) {
    CDeliveryLog* self = static_cast<CDeliveryLog*>(user);
    self->Active.fetch_add(1);
    if (!self->Allowed.load()) self->Violations.fetch_add(1);
    Delivery d{info->type, info->width, info->height, info->stamp, length, false, 0, 0};
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(data);
    if (d.type == KX_FRAME_YUY2 && d.width > 0 && d.height > 0 &&
        static_cast<int64_t>(d.width) * d.height * 2 == length) {
        kxrec::TestPictureId id{};
        d.whole = kxrec::CheckTestPicture(bytes, d.width, d.height, d.width * 2u, &id);
        d.frame = id.frameNumber;
    } else if (d.type == KX_FRAME_PCM && length > 0) {
        d.whole = kxrec::CheckTone(bytes, static_cast<size_t>(length), &d.firstSample);
    }
    EnterCriticalSection(&self->Lock);
    self->Log.push_back(d);
    if (d.type == KX_FRAME_YUY2) ++self->Pictures;
    if (d.type == KX_FRAME_PCM) self->Samples += static_cast<size_t>(length) / 2;
    WakeAllConditionVariable(&self->Changed);
    LeaveCriticalSection(&self->Lock);
    if (self->Hook) self->Hook(d);
    self->Active.fetch_sub(1);
}

std::vector<Delivery> CDeliveryLog::Items() {
    EnterCriticalSection(&Lock);
    std::vector<Delivery> copy = Log;
    LeaveCriticalSection(&Lock);
    return copy;
}

void CDeliveryLog::Clear() {
    EnterCriticalSection(&Lock);
    Log.clear();
    Pictures = 0;
    Samples = 0;
    LeaveCriticalSection(&Lock);
}

bool CDeliveryLog::WaitFor(size_t pictures, size_t samples, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    EnterCriticalSection(&Lock);
    bool reached;
    while (!(reached = Pictures >= pictures && Samples >= samples)) {
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= timeoutMs) break;
        SleepConditionVariableCS(&Changed, &Lock, timeoutMs - elapsed);
    }
    LeaveCriticalSection(&Lock);
    return reached;
}

uint32_t FrameTime(uint32_t n, uint32_t fpsNum, uint32_t fpsDen) {
    return static_cast<uint32_t>(1000ull * n * fpsDen / fpsNum);
}

void MakeTestRecording(const std::wstring& path, uint32_t width, uint32_t height, uint32_t fpsNum,
                       uint32_t fpsDen, uint32_t durationMs, bool sound, bool raw, uint32_t infoDelayMs) {
    kxrec::CRecordingWriter writer;
    kxrec::RecordingSettings settings;
    settings.width = width;
    settings.height = height;
    settings.fpsNum = fpsNum;
    settings.fpsDen = fpsDen;
    settings.infoDelayMs = infoDelayMs;
    ASSERT_TRUE(writer.Begin(path, settings)) << writer.LastError();
    const uint32_t frames = static_cast<uint32_t>(1ull * durationMs * fpsNum / (1000ull * fpsDen));
    const uint32_t samples = sound ? durationMs * kxrec::SamplesPerMs : 0;
    uint32_t nextSample = 0;
    std::vector<uint8_t> picture(width * height * 2);
    std::vector<int16_t> pcm(kxrec::SoundPieceSamples);
    auto soundUntil = [&](uint64_t ms) {
        while (nextSample < samples && nextSample / kxrec::SamplesPerMs < ms) {
            const uint32_t count = std::min(kxrec::SoundPieceSamples, samples - nextSample);
            kxrec::SynthesizeTone(nextSample, count, pcm.data());
            ASSERT_TRUE(raw ? writer.AddPcm(nextSample, pcm.data(), count) : writer.AddTone(nextSample, count));
            nextSample += count;
        }
    };
    for (uint32_t n = 0; n < frames; ++n) {
        const uint32_t t = FrameTime(n, fpsNum, fpsDen);
        soundUntil(t);
        if (raw) {
            kxrec::SynthesizeTestPicture(n, width, height, picture.data(), width * 2);
            ASSERT_TRUE(writer.AddRawPicture(t, width, height, picture.data()));
        } else {
            ASSERT_TRUE(writer.AddTestPicture(t, n, width, height));
        }
    }
    soundUntil(UINT64_MAX);
    ASSERT_TRUE(writer.Commit()) << writer.LastError();
}
