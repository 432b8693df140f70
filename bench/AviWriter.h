// Writes an uncompressed packed-YUY2 AVI (RIFF 'AVI ', one video stream, an
// idx1 index), the input of the platform's own file source in the bench.
// Frames are written as they come; Finish patches the sizes and appends the
// index. Kept under 1 GB so that every AVI 1.0 reader takes it.
//
// Owns the output file handle until Finish or destruction (which closes an
// unfinished file as it stands). Used by one thread.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

class CAviWriter {
public:
    CAviWriter() = default;
    ~CAviWriter();
    CAviWriter(const CAviWriter&) = delete;
    CAviWriter& operator=(const CAviWriter&) = delete;

    bool Begin(const std::wstring& path, uint32_t width, uint32_t height, uint32_t fps, uint32_t frames);
    // One picture of width*height*2 bytes.
    bool AddFrame(const uint8_t* yuy2);
    bool Finish();

private:
    bool Write(const void* data, uint32_t bytes);
    bool WriteAt(uint32_t offset, uint32_t value);
    uint32_t Position() const { return Written; }

    HANDLE File = INVALID_HANDLE_VALUE;
    uint32_t FrameBytes = 0;
    uint32_t FramesPlanned = 0;
    uint32_t Written = 0;           // bytes written so far
    uint32_t MoviListOffset = 0;    // offset of the 'movi' LIST's size field
    std::vector<uint32_t> FrameOffsets;  // of each chunk, relative to 'movi'
};
