// What a test picture should look like in RGB: the YUY2 test picture
// synthesised here and converted by BT.601 with limited range, written out
// in floating point on purpose, independently of kxvplay's integer code.
#pragma once

#include <cstdint>
#include <vector>

struct ExpectedPicture {
    uint32_t Width = 0;
    uint32_t Height = 0;
    std::vector<uint8_t> Yuy2;

    ExpectedPicture(uint32_t frame, uint32_t timeMs, uint32_t width, uint32_t height);
    // B, G, R of a pixel.
    void Bgr(uint32_t x, uint32_t y, int* bgr) const;
};

// The largest difference of any channel between two BGR pixels.
int ChannelDistance(const uint8_t* actual, const int* expected);
