// Recordings for the library's tests, written with the recording writer.
#pragma once

#include <cstdint>
#include <string>

// Writes a recording of test pictures (or raw copies of them) and tone.
void MakeTestRecording(const std::wstring& path, uint32_t width, uint32_t height, uint32_t fpsNum,
                       uint32_t fpsDen, uint32_t durationMs, bool sound, bool raw = false,
                       uint32_t infoDelayMs = 0);

// Picture time of frame n, as the recordings above store it.
uint32_t FrameTime(uint32_t n, uint32_t fpsNum, uint32_t fpsDen);
