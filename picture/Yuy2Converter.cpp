#include "picture/Yuy2Converter.h"

#include <algorithm>

namespace {

uint8_t Clamp(int value) {
    return static_cast<uint8_t>(std::min(255, std::max(0, value)));
}

}  // namespace

// Coefficients scaled by 256: 1.164 -> 298, 1.596 -> 409, 0.392 -> 100,
// 0.813 -> 208, 2.017 -> 516; +128 rounds the final shift.
void CYuy2Converter::PixelToBgr(uint8_t y, uint8_t u, uint8_t v, uint8_t* bgr) {
    const int c = 298 * (static_cast<int>(y) - 16);
    const int d = static_cast<int>(u) - 128;
    const int e = static_cast<int>(v) - 128;
    bgr[0] = Clamp((c + 516 * d + 128) >> 8);
    bgr[1] = Clamp((c - 100 * d - 208 * e + 128) >> 8);
    bgr[2] = Clamp((c + 409 * e + 128) >> 8);
}

BgrImage CYuy2Converter::Convert(const uint8_t* yuy2, int width, int height, size_t strideBytes) {
    BgrImage image(width, height, 0);
    for (int row = 0; row < height; ++row) {
        const uint8_t* source = yuy2 + static_cast<size_t>(row) * strideBytes;
        for (int x = 0; x < width; ++x) {
            const uint8_t* pair = source + static_cast<size_t>(x / 2) * 4;
            PixelToBgr(pair[(x % 2) * 2], pair[1], pair[3], image.At(x, row));
        }
    }
    return image;
}
