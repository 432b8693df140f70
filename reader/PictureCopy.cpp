#include "reader/PictureCopy.h"

#include <cstring>

bool CopyPicture(uint8_t* destination, int32_t capacity, const uint8_t* picture, int32_t length, int32_t width,
                 int32_t height, int32_t stride) {
    if (!destination || capacity < length) return false;
    if (width == stride) {
        std::memcpy(destination, picture, static_cast<size_t>(length));
        return true;
    }
    // Narrower destination rows would overlap each other.
    if (stride < width) return false;
    const int64_t rowBytes = static_cast<int64_t>(width) * 2;
    const int64_t strideBytes = static_cast<int64_t>(stride) * 2;
    if (capacity < (height - 1) * strideBytes + rowBytes) return false;
    // Rows the picture does not hold (a shorter picture) are not copied:
    // the rest of the buffer would be a previous picture's bytes.
    int64_t rows = length / rowBytes;
    if (rows > height) rows = height;
    for (int64_t row = 0; row < rows; ++row) {
        std::memcpy(destination + row * strideBytes, picture + row * rowBytes, static_cast<size_t>(rowBytes));
    }
    return true;
}
