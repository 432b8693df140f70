// How many pictures a file buffers within its memory budget: the pool keeps
// Kept buffers, decoding pauses at High queued pictures and resumes below
// Low, and a seek's preroll is complete at Preroll (always below High).
// Pictures small enough that the budget holds them all get the full depth
// (CFramePool::MaxKept / HighWaterMark / LowWaterMark / PrerollDepth);
// larger ones scale the counts down together, never below four.
//
// The budget is the user's registry value PictureBudgetMB
// (HKCU\Software\KXVD\KXVDSrc, a DWORD from 1 to 65536), else 64 MB; it is
// read at each open (filter's thread), and the depth follows it at the
// first picture (decoding thread). Every thread reads the depth; the fields
// are atomic, each read on its own.
#pragma once

#include "reader/FramePool.h"

#include <atomic>
#include <cstdint>

class CPictureBudget {
public:
    // The full depth, in pictures queued.
    static constexpr int32_t HighWaterMark = 50;
    static constexpr int32_t LowWaterMark = 35;
    static constexpr int32_t PrerollDepth = 40;

    struct Depth {
        int32_t Kept = CFramePool::MaxKept;
        int32_t High = HighWaterMark;
        int32_t Low = LowWaterMark;
        int32_t Preroll = PrerollDepth;
    };
    // The depth for pictures of pictureBytes within budgetBytes.
    static Depth DepthFor(int64_t pictureBytes, int64_t budgetBytes);
    // The budget in the registry, else the default.
    static int64_t RegistryBudgetBytes();

    // Filter's thread, at each open.
    void ReadBudget() { BudgetBytes = RegistryBudgetBytes(); }
    // Decoding thread, at the first picture: the depth for its size.
    Depth Follow(int32_t pictureBytes);

    int32_t High() const { return HighAt.load(); }
    int32_t Low() const { return LowAt.load(); }
    int32_t Preroll() const { return PrerollAt.load(); }

private:
    std::atomic<int64_t> BudgetBytes{0};
    std::atomic<int32_t> HighAt{HighWaterMark};
    std::atomic<int32_t> LowAt{LowWaterMark};
    std::atomic<int32_t> PrerollAt{PrerollDepth};
};
