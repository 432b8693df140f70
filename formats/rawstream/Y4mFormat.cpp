#include "formats/rawstream/Y4mFormat.h"

#include <cstring>

namespace {

constexpr char FrameLine[] = "FRAME\n";
constexpr size_t FrameLineBytes = sizeof(FrameLine) - 1;

struct Fraction {
    uint64_t Numerator;
    uint64_t Denominator;
};

// The fraction with the smallest denominator in [low, high] (low <= high,
// both positive), by walking the continued fractions of the two ends.
Fraction Simplest(Fraction low, Fraction high) {
    const uint64_t whole = low.Numerator / low.Denominator;
    if (whole * low.Denominator == low.Numerator) return {whole, 1};
    if ((whole + 1) * high.Denominator <= high.Numerator) return {whole + 1, 1};
    // Both ends lie between whole and whole + 1: the simplest fraction of
    // the reciprocals of their remainders, turned back.
    const Fraction inner = Simplest({high.Denominator, high.Numerator - whole * high.Denominator},
                                    {low.Denominator, low.Numerator - whole * low.Denominator});
    return {whole * inner.Numerator + inner.Denominator, inner.Numerator};
}

}  // namespace

CY4mFormat::Rate CY4mFormat::RateOf(int64_t avgTimePerFrame) {
    // Durations from avgTimePerFrame - 0.5 to + 0.5 round to it: rates from
    // 2e7 / (2 t + 1) to 2e7 / (2 t - 1) pictures per second.
    const uint64_t twice = 2 * static_cast<uint64_t>(avgTimePerFrame);
    const Fraction rate = Simplest({20000000, twice + 1}, {20000000, twice - 1});
    return Rate{static_cast<uint32_t>(rate.Numerator), static_cast<uint32_t>(rate.Denominator)};
}

std::string CY4mFormat::StreamHeader(uint32_t width, uint32_t height, Rate rate) {
    return "YUV4MPEG2 W" + std::to_string(width) + " H" + std::to_string(height) + " F" +
           std::to_string(rate.Numerator) + ":" + std::to_string(rate.Denominator) + " Ip A1:1 C422\n";
}

size_t CY4mFormat::FrameBytes(uint32_t width, uint32_t height) {
    return FrameLineBytes + static_cast<size_t>(width) * height * 2;
}

void CY4mFormat::Frame(const uint8_t* yuy2, size_t strideBytes, uint32_t width, uint32_t height, uint8_t* out) {
    memcpy(out, FrameLine, FrameLineBytes);
    uint8_t* y = out + FrameLineBytes;
    uint8_t* u = y + static_cast<size_t>(width) * height;
    uint8_t* v = u + static_cast<size_t>(width / 2) * height;
    for (uint32_t row = 0; row < height; ++row) {
        const uint8_t* pair = yuy2 + row * strideBytes;
        for (uint32_t x = 0; x < width; x += 2, pair += 4) {
            *y++ = pair[0];
            *u++ = pair[1];
            *y++ = pair[2];
            *v++ = pair[3];
        }
    }
}
