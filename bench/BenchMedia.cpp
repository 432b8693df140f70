#include "bench/BenchMedia.h"

#include "recording/RecordingWriter.h"
#include "recording/TestPattern.h"
#include "formats/avi/AviFileWriter.h"

#include <windows.h>

#include <algorithm>
#include <vector>

bool WriteBenchRecording(const std::wstring& path, const MediaPlan& plan, std::string* error) {
    kxrec::CRecordingWriter writer;
    kxrec::RecordingSettings settings;
    settings.width = plan.Width;
    settings.height = plan.Height;
    settings.fpsNum = plan.Fps;
    settings.fpsDen = 1;
    if (!writer.Begin(path, settings)) {
        *error = writer.LastError();
        return false;
    }
    const uint32_t samples = plan.Sound ? plan.DurationMs() * 8 : 0;
    uint32_t nextSample = 0;
    // Sound in 40 ms pieces, interleaved with the pictures as a recorder
    // writes them.
    auto soundUntil = [&](uint64_t ms) {
        while (nextSample < samples && nextSample / 8 < ms) {
            const uint32_t count = std::min<uint32_t>(320, samples - nextSample);
            if (!writer.AddTone(nextSample, count)) return false;
            nextSample += count;
        }
        return true;
    };
    for (uint32_t n = 0; n < plan.Frames; ++n) {
        const uint32_t timeMs = n * 1000 / plan.Fps;
        if (!soundUntil(timeMs) || !writer.AddTestPicture(timeMs, n, plan.Width, plan.Height)) {
            *error = writer.LastError();
            return false;
        }
    }
    if (!soundUntil(UINT64_MAX) || !writer.Commit()) {
        *error = writer.LastError();
        return false;
    }
    return true;
}

bool WriteBenchAvi(const std::wstring& path, const MediaPlan& plan, std::string* error) {
    AviVideoFormat format;
    format.Width = plan.Width;
    format.Height = plan.Height;
    format.PictureBytes = static_cast<uint32_t>(plan.PictureBytes());
    format.PictureDuration100ns = plan.Fps ? 10000000 / plan.Fps : 0;
    CAviFileWriter writer;
    if (FAILED(writer.Open(path, format, nullptr))) {
        *error = "cannot start the AVI file";
        return false;
    }
    std::vector<uint8_t> picture(static_cast<size_t>(plan.PictureBytes()));
    for (uint32_t n = 0; n < plan.Frames; ++n) {
        const uint32_t timeMs = plan.Fps ? n * 1000 / plan.Fps : 0;
        if (!kxrec::SynthesizeTestPicture(n, timeMs, plan.Width, plan.Height, picture.data(), plan.Width * 2u) ||
            FAILED(writer.AddPicture(picture.data(), format.PictureBytes))) {
            *error = "cannot write an AVI frame";
            return false;
        }
    }
    if (FAILED(writer.Finish())) {
        *error = "cannot finish the AVI file";
        return false;
    }
    return true;
}

std::wstring BenchScratchFolder() {
    wchar_t temp[MAX_PATH];
    const DWORD length = GetTempPathW(MAX_PATH, temp);
    std::wstring folder = (length > 0 && length < MAX_PATH) ? std::wstring(temp, length) : std::wstring(L".\\");
    if (folder.back() != L'\\') folder += L'\\';
    folder += L"kxbench\\";
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}
