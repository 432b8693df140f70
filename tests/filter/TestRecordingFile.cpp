#include "TestRecordingFile.h"

#include "recording/RecordingWriter.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>

void WriteTestRecording(const std::wstring& path, const RecordingPlan& plan) {
    kxrec::CRecordingWriter writer;
    kxrec::RecordingSettings settings;
    settings.width = plan.Width;
    settings.height = plan.Height;
    settings.fpsNum = plan.Fps;
    settings.fpsDen = plan.FpsDen;
    ASSERT_TRUE(writer.Begin(path, settings)) << writer.LastError();

    const uint32_t samples = plan.SoundSamples();
    uint32_t nextSample = 0;
    auto soundUntil = [&](uint64_t ms) {
        while (nextSample < samples && nextSample / 8 < ms) {
            const uint32_t count = std::min<uint32_t>(320, samples - nextSample);
            ASSERT_TRUE(writer.AddTone(nextSample, count)) << writer.LastError();
            nextSample += count;
        }
    };
    if (plan.NoPictures) {
        soundUntil(UINT64_MAX);
    } else {
        for (uint32_t n = 0; n < plan.FrameCount(); ++n) {
            const uint32_t timeMs = n * 1000 * plan.FpsDen / plan.Fps;
            soundUntil(timeMs);
            const bool changed = plan.ChangeAtFrame != 0 && n >= plan.ChangeAtFrame;
            ASSERT_TRUE(writer.AddTestPicture(timeMs, n, changed ? plan.ChangedWidth : plan.Width,
                                              changed ? plan.ChangedHeight : plan.Height))
                << writer.LastError();
        }
        soundUntil(UINT64_MAX);
    }
    ASSERT_TRUE(writer.Commit()) << writer.LastError();
    if (plan.KeepPercent < 100) {
        HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, file);
        LARGE_INTEGER size{};
        GetFileSizeEx(file, &size);
        size.QuadPart = size.QuadPart * plan.KeepPercent / 100;
        const bool cut = SetFilePointerEx(file, size, nullptr, FILE_BEGIN) && SetEndOfFile(file);
        CloseHandle(file);
        ASSERT_TRUE(cut) << "the recording could not be cut short";
    }
}
