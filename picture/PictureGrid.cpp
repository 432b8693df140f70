#include "picture/PictureGrid.h"

#include <algorithm>
#include <cmath>

CPictureGrid::CPictureGrid(double period, uint32_t durationMs)
    : PicturePeriod(period > 1 ? period : DefaultPeriod),
      RoundedPeriod(std::llround(PicturePeriod)),
      DurationMs(durationMs),
      Total(std::llround(static_cast<double>(durationMs) * 10000.0 / PicturePeriod)) {}

int64_t CPictureGrid::PictureAt(REFERENCE_TIME t) const {
    // One 100-ns unit of slack: the stamps are the exact starts rounded.
    const int64_t exact = static_cast<int64_t>(std::floor((static_cast<double>(t) + 1.0) / PicturePeriod));
    if (t < 0) return exact;
    return std::max(exact, t / RoundedPeriod);
}

REFERENCE_TIME CPictureGrid::StartOf(int64_t n) const {
    return std::llround(static_cast<double>(n) * PicturePeriod);
}

uint32_t CPictureGrid::LibraryMs(REFERENCE_TIME t) const {
    int64_t n = std::max<int64_t>(PictureAt(t), 0);
    if (Total > 0) n = std::min(n, Total - 1);
    // Nothing lies before the first picture: its own start is safe, and the
    // sound then starts at the beginning too.
    if (n == 0) return 0;
    const double ms = std::floor((static_cast<double>(n) + 0.25) * PicturePeriod / 10000.0);
    if (DurationMs == 0) return static_cast<uint32_t>(std::max(ms, 0.0));
    return static_cast<uint32_t>(std::min(std::max(ms, 0.0), static_cast<double>(DurationMs - 1)));
}
