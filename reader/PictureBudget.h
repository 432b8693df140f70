// How many pictures a file buffers within its memory budget: the pool keeps
// Kept buffers, decoding pauses at High queued pictures and resumes below
// Low, and a seek's preroll is complete at Preroll (always below High).
// Pictures small enough that the budget holds them all get 53 / 50 / 35 /
// 40; larger ones scale the counts down together, never below four.
//
// The budget is the user's registry value PictureBudgetMB
// (HKCU\Software\KXVD\KXVDSrc, a DWORD from 1 to 65536), else 64 MB; it is
// read at each open (filter's thread), and the depth follows it at the
// first picture (decoding thread). Every thread reads the depth; the fields
// are atomic, each read on its own.
#pragma once

#include <atomic>
#include <cstdint>

class CPictureBudget {
public:
    struct Depth {
        int32_t Kept = 53;
        int32_t High = 50;
        int32_t Low = 35;
        int32_t Preroll = 40;
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
    std::atomic<int32_t> HighAt{50};
    std::atomic<int32_t> LowAt{35};
    std::atomic<int32_t> PrerollAt{40};
};
