#include "PictureCapture.h"

#include "AppError.h"
#include "picture/Yuy2Converter.h"

#include <cstdlib>

CPictureCapture::CPictureCapture(const SourceFacts& facts)
    : Width(static_cast<int>(facts.Width)),
      Height(static_cast<int>(std::labs(facts.Height))),
      Stride((static_cast<size_t>(facts.Width) * 2 + 3) & ~static_cast<size_t>(3)),
      Step(facts.PictureStep) {}

bool CPictureCapture::Convert(const BYTE* data, long bytes, BgrImage* image) const {
    if (bytes < 0 || static_cast<size_t>(bytes) < Stride * static_cast<size_t>(Height)) return false;
    *image = CYuy2Converter::Convert(data, Width, Height, Stride);
    return true;
}

uint64_t CPictureCapture::FrameNumber(REFERENCE_TIME rangeStart, REFERENCE_TIME stamp) const {
    if (Step <= 0) return 0;
    return static_cast<uint64_t>((rangeStart + stamp + Step / 2) / Step);
}

void CPictureCapture::NoteFailure(const std::wstring& message) {
    if (Failure.empty()) Failure = message;
}

void CPictureCapture::ThrowIfFailed() const {
    if (!Failure.empty()) throw CAppError(ExitCode::OutputFailure, Failure);
}
