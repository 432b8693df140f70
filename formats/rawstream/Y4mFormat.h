// YUV4MPEG2, the raw picture stream that every encoder reads from a pipe: a
// stream header line, then for each picture a "FRAME" line and its planes.
// Pictures go out as they come, 4:2:2 (C422): each YUY2 row's pairs are
// unpacked into a row of the Y plane and half-width rows of the U and V
// planes, top row first, so nothing is lost. Pure; any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class CY4mFormat {
public:
    struct Rate {
        uint32_t Numerator = 0;   // pictures per Denominator seconds
        uint32_t Denominator = 1;
    };

    // The simplest fraction of pictures per second whose picture duration,
    // rounded to 100 ns units, is avgTimePerFrame: 25:1 for 400000, 30:1 for
    // 333333, 25:2 for 800000, 15:2 for 1333333. avgTimePerFrame above 0.
    static Rate RateOf(int64_t avgTimePerFrame);
    // "YUV4MPEG2 W.. H.. F..:.. Ip A1:1 C422\n"
    static std::string StreamHeader(uint32_t width, uint32_t height, Rate rate);
    // Bytes of one frame: the "FRAME\n" line and the three planes.
    static size_t FrameBytes(uint32_t width, uint32_t height);
    // Writes one frame (FrameBytes) to out from a YUY2 picture of even width
    // whose rows are strideBytes apart.
    static void Frame(const uint8_t* yuy2, size_t strideBytes, uint32_t width, uint32_t height, uint8_t* out);
};
