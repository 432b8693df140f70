// The media every measurement runs on: a recording of test pictures with
// test tone for the module and the stand-in library, and an uncompressed
// YUY2 AVI of the very same pictures for the platform's own file source.
// Free functions; each call writes its own file.
#pragma once

#include <cstdint>
#include <string>

struct MediaPlan {
    uint32_t Width = 352;
    uint32_t Height = 288;
    uint32_t Fps = 25;
    uint32_t Frames = 100;
    bool Sound = true;
    uint64_t PictureBytes() const { return static_cast<uint64_t>(Width) * Height * 2; }
    uint32_t DurationMs() const { return Frames * 1000 / Fps; }
};

bool WriteBenchRecording(const std::wstring& path, const MediaPlan& plan, std::string* error);
bool WriteBenchAvi(const std::wstring& path, const MediaPlan& plan, std::string* error);
// A folder for the bench's files, made if missing; ends with a backslash.
std::wstring BenchScratchFolder();
