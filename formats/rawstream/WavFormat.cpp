#include "formats/rawstream/WavFormat.h"

#include <cstring>

namespace {

constexpr uint32_t Unknown = 0xFFFFFFFF;

void Put16(uint8_t* at, uint32_t value) {
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
}

void Put32(uint8_t* at, uint32_t value) {
    Put16(at, value & 0xFFFF);
    Put16(at + 2, value >> 16);
}

}  // namespace

std::array<uint8_t, CWavFormat::HeaderBytes> CWavFormat::Header(const PcmShape& shape, uint64_t dataBytes) {
    std::array<uint8_t, HeaderBytes> header{};
    uint8_t* h = header.data();
    // The RIFF size counts everything after its own field: 36 header bytes
    // and the data.
    const bool known = dataBytes <= Unknown - (HeaderBytes - 8);
    const uint32_t blockAlign = shape.Channels * ((shape.BitsPerSample + 7u) / 8u);
    memcpy(h, "RIFF", 4);
    Put32(h + 4, known ? static_cast<uint32_t>(dataBytes + HeaderBytes - 8) : Unknown);
    memcpy(h + 8, "WAVEfmt ", 8);
    Put32(h + 16, 16);
    Put16(h + 20, 1);   // PCM
    Put16(h + 22, shape.Channels);
    Put32(h + 24, shape.SamplesPerSecond);
    Put32(h + 28, shape.SamplesPerSecond * blockAlign);
    Put16(h + 32, blockAlign);
    Put16(h + 34, shape.BitsPerSample);
    memcpy(h + 36, "data", 4);
    Put32(h + 40, known ? static_cast<uint32_t>(dataBytes) : Unknown);
    return header;
}
