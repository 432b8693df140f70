// The copy of one decoded picture (rows of width pixels, packed) into a
// destination whose rows are stride pixels apart. Shared by the reader and
// the 64-bit module's proxy, which copies from the helper's pool itself.
// Pure function, any thread.
#pragma once

#include <cstdint>

// False, copying nothing, when the picture does not fit the capacity or the
// destination rows are narrower than the picture (they would overlap). Rows
// the picture does not hold (a shorter one) are left as they are.
bool CopyPicture(uint8_t* destination, int32_t capacity, const uint8_t* picture, int32_t length, int32_t width,
                 int32_t height, int32_t stride);
