// Test helpers for driving the playback library as the filter does: the
// library loaded at run time, a hidden window whose thread pumps messages,
// and a log of what the decode callback delivered.
#pragma once

#include "KXPlayApi.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

// VUVezaVID.dll from the test's folder with its thirteen functions resolved.
// Created and used on any thread; unloads on destruction.
class CPlayLibrary {
public:
    CPlayLibrary();
    ~CPlayLibrary();
    CPlayLibrary(const CPlayLibrary&) = delete;
    CPlayLibrary& operator=(const CPlayLibrary&) = delete;

    bool Loaded() const { return Loaded_; }
    const KXPlayApi& Api() const { return Table; }

private:
    HMODULE Module = nullptr;
    KXPlayApi Table{};
    bool Loaded_ = false;
};

// A hidden window owned by the creating thread, which must also call Wait.
class CNoticeWindow {
public:
    enum WaitResult { GotMessage, GotEvent, TimedOut };

    CNoticeWindow();
    ~CNoticeWindow();
    CNoticeWindow(const CNoticeWindow&) = delete;
    CNoticeWindow& operator=(const CNoticeWindow&) = delete;

    HWND Handle() const { return Window; }
    // Pumps this thread's messages until a msg that no earlier Wait claimed
    // has arrived (and claims it), event (if given) is signalled, or
    // timeoutMs passes.
    WaitResult Wait(UINT msg, DWORD timeoutMs, HANDLE event = nullptr);
    // How many of msg have arrived so far.
    int Count(UINT msg) const;

private:
    HWND Window = nullptr;
    std::map<UINT, int> Unclaimed;
    std::map<UINT, int> Received;
};

// One delivery of the decode callback, checked against the test patterns.
struct Delivery {
    int32_t type;
    int32_t width;
    int32_t height;
    int32_t stamp;
    long bytes;
    bool whole;            // a whole test picture, or whole test tone
    uint32_t frame;        // pictures: frame number
    uint32_t firstSample;  // sound: first sample index
};

// The decode callback's context: logs deliveries (Lock guards Items) and
// runs Hook inside the callback, outside the lock. Callback-side counters
// are atomic so the test thread can read them at any time.
class CDeliveryLog {
public:
    CDeliveryLog();
    ~CDeliveryLog();
    CDeliveryLog(const CDeliveryLog&) = delete;
    CDeliveryLog& operator=(const CDeliveryLog&) = delete;

    static void KX_PLAY_CALL Callback(long first, char* data, long length, FrameInfo* info, void* user,
                                      long last);

    std::vector<Delivery> Items();
    void Clear();
    // Waits until at least pictures pictures and samples sound samples arrived.
    bool WaitFor(size_t pictures, size_t samples, DWORD timeoutMs);

    // Set before playing; called on the decoding thread for each delivery.
    std::function<void(const Delivery&)> Hook;
    // When false, any delivery counts as a violation.
    std::atomic<bool> Allowed{true};
    std::atomic<int> Violations{0};
    std::atomic<int> Active{0};

private:
    CRITICAL_SECTION Lock;
    CONDITION_VARIABLE Changed;
    std::vector<Delivery> Log;     // guarded by Lock
    size_t Pictures = 0;           // guarded by Lock
    size_t Samples = 0;            // guarded by Lock
};

// Writes a recording of test pictures (or raw copies of them) and tone.
void MakeTestRecording(const std::wstring& path, uint32_t width, uint32_t height, uint32_t fpsNum,
                       uint32_t fpsDen, uint32_t durationMs, bool sound, bool raw = false,
                       uint32_t infoDelayMs = 0);

// Picture time of frame n, as the recordings above store it.
uint32_t FrameTime(uint32_t n, uint32_t fpsNum, uint32_t fpsDen);
