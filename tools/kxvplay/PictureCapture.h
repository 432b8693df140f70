// Turns delivered YUY2 pictures into BGR pictures for the picture commands:
// knows the picture size and row stride the source's type announces, and
// keeps the first failure of the work done on the worker thread (which may
// not throw) for the main thread to report. Fields are written on the
// worker thread under the tally's lock and read on the main thread after
// the graph stopped.
#pragma once

#include "picture/BgrImage.h"
#include "SourceGraph.h"

#include <cstdint>
#include <string>

class CPictureCapture {
public:
    explicit CPictureCapture(const SourceFacts& facts);

    // False when the sample is too small to hold a whole picture.
    bool Convert(const BYTE* data, long bytes, BgrImage* image) const;
    // Number of the picture in the recording that a stamp stands for.
    uint64_t FrameNumber(REFERENCE_TIME rangeStart, REFERENCE_TIME stamp) const;

    void NoteFailure(const std::wstring& message);
    // Throws CAppError(OutputFailure) when a failure was noted.
    void ThrowIfFailed() const;

    const int Width;
    const int Height;

private:
    const size_t Stride;
    const REFERENCE_TIME Step;
    std::wstring Failure;
};
