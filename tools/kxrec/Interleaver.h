// Puts pictures and sound of a recording being written in time order: before
// each picture, the sound that starts before it; a picture goes before sound
// that starts at the same moment. Used by one thread.
#pragma once

#include "recording/RecordingFormat.h"

#include <algorithm>
#include <cstdint>

namespace kxrec {

class CInterleaver {
public:
    CInterleaver(uint32_t fpsNum, uint32_t fpsDen) : FpsNum(fpsNum), FpsDen(fpsDen) {}

    // Time in ms of picture n.
    uint32_t PictureTime(uint32_t n) const;

    // Writes the sound that starts before timeMs, in pieces of at most
    // SoundPieceSamples: writeSound(first, count) returns false on failure.
    template <typename F>
    bool SoundBefore(uint64_t timeMs, uint32_t totalSamples, F writeSound) {
        while (NextSample < totalSamples && NextSample / SamplesPerMs < timeMs) {
            const uint32_t count = std::min(SoundPieceSamples, totalSamples - NextSample);
            if (!writeSound(NextSample, count)) return false;
            NextSample += count;
        }
        return true;
    }

private:
    uint32_t FpsNum;
    uint32_t FpsDen;
    uint32_t NextSample = 0;
};

}  // namespace kxrec
