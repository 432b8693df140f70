// The media file's state as the streams look at it: one snapshot in one call
// (one round trip to the 64-bit module's helper) instead of a call per
// question; taking it changes nothing. Each field is read on its own, so the
// snapshot is a consistent set only as far as the flags' own order makes it.
#pragma once

#include <cstdint>

struct MediaFileState {
    int32_t QueuedPictures = 0;
    // Bytes of one picture; 0 while the size is unknown.
    int32_t PictureBytes = 0;
    // Row length, in pixels, of the buffers pictures are read into.
    int32_t DestinationStride = 0;
    // Sound bytes buffered.
    uint32_t SoundBytes = 0;
    uint8_t Open = 0;
    // Decoding: running, paused, or never started / stopped.
    uint8_t Playing = 0;
    uint8_t Paused = 0;
    uint8_t Stopped = 1;
    uint8_t FileEnded = 0;
    uint8_t AudioStarted = 0;
    uint8_t PrerollReached = 0;
    uint8_t VideoDrained = 0;
    uint8_t AudioFinished = 0;
    // A picture could not be buffered / decoded sound was lost, for want of memory.
    uint8_t OutOfMemory = 0;
    uint8_t SoundOutOfMemory = 0;
    uint8_t Padding = 0;
};
static_assert(sizeof(MediaFileState) == 28, "the same layout in both widths");
