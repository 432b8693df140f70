// CRC-32 (the common reflected polynomial 0xEDB88320) used to seal headers and
// records of a recording. Pure functions, callable from any thread.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kxrec {

// Continues a CRC over more bytes: pass 0 to start, then the previous result.
uint32_t Crc32(uint32_t crc, const void* data, size_t bytes);

}  // namespace kxrec
