#include "reader/PictureBudget.h"

#include <windows.h>

namespace {

// Below this many pictures playback stutters, whatever the budget says.
constexpr int32_t MinimumDepth = 4;
constexpr uint32_t DefaultBudgetMB = 64;
constexpr uint32_t MaxBudgetMB = 65536;
const wchar_t BudgetKey[] = L"Software\\KXVD\\KXVDSrc";
const wchar_t BudgetValue[] = L"PictureBudgetMB";

}  // namespace

CPictureBudget::Depth CPictureBudget::DepthFor(int64_t pictureBytes, int64_t budgetBytes) {
    Depth depth;
    const int64_t fits = pictureBytes > 0 ? budgetBytes / pictureBytes : CFramePool::MaxKept;
    if (fits >= CFramePool::MaxKept) return depth;
    // The pool keeps the whole depth; the queue pauses decoding a little below
    // it (a picture or two still arrive after the pause), and the preroll and
    // the resume come proportionally lower, so a seek's preroll is always
    // reached before decoding pauses.
    depth.Kept = static_cast<int32_t>(fits < MinimumDepth ? MinimumDepth : fits);
    depth.High = depth.Kept * HighWaterMark / CFramePool::MaxKept;
    if (depth.High < 2) depth.High = 2;
    depth.Low = depth.High * LowWaterMark / HighWaterMark;
    if (depth.Low < 1) depth.Low = 1;
    depth.Preroll = depth.High * PrerollDepth / HighWaterMark;
    if (depth.Preroll < 1) depth.Preroll = 1;
    return depth;
}

int64_t CPictureBudget::RegistryBudgetBytes() {
    DWORD megabytes = 0;
    DWORD size = sizeof(megabytes);
    DWORD type = 0;
    HKEY key = nullptr;
    int64_t budget = static_cast<int64_t>(DefaultBudgetMB) << 20;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, BudgetKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return budget;
    if (RegQueryValueExW(key, BudgetValue, nullptr, &type, reinterpret_cast<BYTE*>(&megabytes), &size) ==
            ERROR_SUCCESS &&
        type == REG_DWORD && size == sizeof(megabytes) && megabytes >= 1 && megabytes <= MaxBudgetMB) {
        budget = static_cast<int64_t>(megabytes) << 20;
    }
    RegCloseKey(key);
    return budget;
}

CPictureBudget::Depth CPictureBudget::Follow(int32_t pictureBytes) {
    const Depth depth = DepthFor(pictureBytes, BudgetBytes.load());
    HighAt = depth.High;
    LowAt = depth.Low;
    PrerollAt = depth.Preroll;
    return depth;
}
