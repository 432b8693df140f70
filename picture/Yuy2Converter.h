// Packed YUY2 (Y0 U Y1 V) to BGR by BT.601 with limited-range input
// (Y 16..235, U and V 16..240), results clamped to 0..255. Pure; any thread.
#pragma once

#include "picture/BgrImage.h"

#include <cstddef>
#include <cstdint>

class CYuy2Converter {
public:
    // One pixel: writes B, G, R.
    static void PixelToBgr(uint8_t y, uint8_t u, uint8_t v, uint8_t* bgr);
    // A whole picture of width x height whose rows are strideBytes apart;
    // an odd width converts its last pixel from the last pair's chroma.
    static BgrImage Convert(const uint8_t* yuy2, int width, int height, size_t strideBytes);
};
