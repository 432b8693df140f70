#include "ExpectedColour.h"

#include "recording/TestPattern.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

ExpectedPicture::ExpectedPicture(uint32_t frame, uint32_t timeMs, uint32_t width, uint32_t height)
    : Width(width), Height(height), Yuy2(static_cast<size_t>(width) * height * 2) {
    kxrec::SynthesizeTestPicture(frame, timeMs, width, height, Yuy2.data(), static_cast<size_t>(width) * 2);
}

void ExpectedPicture::Bgr(uint32_t x, uint32_t y, int* bgr) const {
    const uint8_t* pair = &Yuy2[(static_cast<size_t>(y) * Width + (x & ~1u)) * 2];
    const double luma = 1.164 * (pair[(x & 1) * 2] - 16.0);
    const double u = pair[1] - 128.0;
    const double v = pair[3] - 128.0;
    const double channels[3] = {luma + 2.018 * u, luma - 0.391 * u - 0.813 * v, luma + 1.596 * v};
    for (int c = 0; c < 3; ++c) bgr[c] = static_cast<int>(std::lround(std::min(255.0, std::max(0.0, channels[c]))));
}

int ChannelDistance(const uint8_t* actual, const int* expected) {
    int worst = 0;
    for (int c = 0; c < 3; ++c) worst = std::max(worst, std::abs(actual[c] - expected[c]));
    return worst;
}
