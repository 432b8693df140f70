// A PNG file decoded through the platform's imaging component into 24-bit
// BGR rows, for checking what kxvplay wrote. Test thread only, COM initialised.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct PngImage {
    bool Loaded = false;
    unsigned Width = 0;
    unsigned Height = 0;
    std::vector<uint8_t> Bgr;   // rows of Width*3 bytes, top-down

    const uint8_t* At(unsigned x, unsigned y) const { return &Bgr[(static_cast<size_t>(y) * Width + x) * 3]; }
};

PngImage LoadPng(const std::wstring& path);
