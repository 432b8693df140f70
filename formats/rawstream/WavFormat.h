// The RIFF WAVE header of PCM sound, for a file whose length is known when
// the header is written (or rewritten at the end) and for a stream whose
// length is not: there the sizes say "unknown" (0xFFFFFFFF), which readers
// take as "up to the end of the data". Pure; any thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

struct PcmShape {
    uint16_t Channels = 1;
    uint32_t SamplesPerSecond = 8000;
    uint16_t BitsPerSample = 16;
};

class CWavFormat {
public:
    static constexpr size_t HeaderBytes = 44;
    static constexpr uint64_t UnknownLength = UINT64_MAX;

    // The header for dataBytes of sound; a length that is unknown or does
    // not fit the 32-bit sizes is written as unknown.
    static std::array<uint8_t, HeaderBytes> Header(const PcmShape& shape, uint64_t dataBytes);
};
