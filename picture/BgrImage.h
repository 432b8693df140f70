// A picture of 24-bit BGR pixels, rows top-down and packed (stride width*3):
// the layout that the imaging component's 24bppBGR format takes. Plain
// value; owned by whoever holds it.
#pragma once

#include <cstdint>
#include <vector>

struct BgrImage {
    int Width = 0;
    int Height = 0;
    std::vector<uint8_t> Pixels;

    BgrImage() = default;
    BgrImage(int width, int height, uint8_t fill)
        : Width(width), Height(height), Pixels(static_cast<size_t>(width) * height * 3, fill) {}

    size_t Stride() const { return static_cast<size_t>(Width) * 3; }
    uint8_t* At(int x, int y) { return &Pixels[static_cast<size_t>(y) * Stride() + static_cast<size_t>(x) * 3]; }
    const uint8_t* At(int x, int y) const {
        return &Pixels[static_cast<size_t>(y) * Stride() + static_cast<size_t>(x) * 3];
    }
};
