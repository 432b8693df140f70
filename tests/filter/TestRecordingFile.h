// Recordings for the filter's tests: test pictures that carry their frame
// number and size, and a tone that carries its sample position, so every
// delivered sample can be checked against what the file holds.
#pragma once

#include <cstdint>
#include <string>

struct RecordingPlan {
    uint32_t Width = 352;
    uint32_t Height = 288;
    uint32_t Fps = 25;
    uint32_t FpsDen = 1;  // Fps / FpsDen pictures a second
    uint32_t DurationMs = 4000;
    bool Sound = true;
    // From this frame on the pictures have ChangedWidth x ChangedHeight; 0: never.
    uint32_t ChangeAtFrame = 0;
    uint32_t ChangedWidth = 0;
    uint32_t ChangedHeight = 0;
    // No picture at all (sound only).
    bool NoPictures = false;
    // Below 100: the file keeps only this share of its bytes, as a recording
    // cut short by a power loss (its header still promises the whole).
    uint32_t KeepPercent = 100;

    uint32_t FrameCount() const { return DurationMs * Fps / (1000 * FpsDen); }
    uint32_t SoundSamples() const { return Sound ? DurationMs * 8 : 0; }
};

// Writes the recording; fails the calling test on any error.
void WriteTestRecording(const std::wstring& path, const RecordingPlan& plan);
