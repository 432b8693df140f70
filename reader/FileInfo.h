// The file information of the open file, the frame total and the duration,
// and the one wait per open for the library's notice (1178) that tells them.
//
// The getters that need the information wait once per open, together at
// most waitMs (a wait in each of them added up to 40 s in the filter's
// Load). When the notice has not come by then, the caller asks the library
// itself, once; those answers (-1 and 0 where it does not know) stand until
// a later notice replaces them.
//
// Threads: the message thread publishes the notice's values; the filter's
// thread resets, waits and forgets. Which lock keeps the values from being
// written for a file that is being closed is the owner's (CKXFile's
// HandleLock). TotalFrames and DurationMs are written before InfoReady and
// InfoReadyEvent (auto reset, one waiter), so a reader that sees the flag
// sees the values.
#pragma once

#include "framework/SyncEvent.h"

#include <windows.h>

#include <atomic>
#include <cstdint>

class CFileInfo {
public:
    explicit CFileInfo(DWORD waitMs);

    // Filter's thread, at each open: not known yet, not waited for.
    void Reset();
    // Message thread, on the notice.
    void Publish(int32_t totalFrames, uint32_t durationMs);
    // Filter's thread: the first call since the open waits for the notice;
    // true when the caller must ask the library itself (see SetAsked).
    bool AwaitOnce();
    // Filter's thread: the library's own answers after AwaitOnce; kept
    // unless the notice has come meanwhile.
    void SetAsked(int32_t totalFrames, uint32_t durationMs);
    // At a close: -1 and 0 again.
    void Forget();

    int32_t TotalFrames() const { return Frames.load(); }
    uint32_t DurationMs() const { return Duration.load(); }
    bool Ready() const { return InfoReady.load() != 0; }

private:
    const DWORD WaitMs;
    std::atomic<int32_t> Frames{-1};
    std::atomic<uint32_t> Duration{0};
    std::atomic<uint8_t> InfoReady{0};
    std::atomic<uint8_t> InfoAwaited{0};
    CSyncEvent InfoReadyEvent{false};
};
