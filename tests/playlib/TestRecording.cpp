#include "TestRecording.h"

#include "recording/RecordingWriter.h"
#include "recording/TestPattern.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

uint32_t FrameTime(uint32_t n, uint32_t fpsNum, uint32_t fpsDen) {
    return static_cast<uint32_t>(1000ull * n * fpsDen / fpsNum);
}

void MakeTestRecording(const std::wstring& path, uint32_t width, uint32_t height, uint32_t fpsNum,
                       uint32_t fpsDen, uint32_t durationMs, bool sound, bool raw, uint32_t infoDelayMs) {
    kxrec::CRecordingWriter writer;
    kxrec::RecordingSettings settings;
    settings.width = width;
    settings.height = height;
    settings.fpsNum = fpsNum;
    settings.fpsDen = fpsDen;
    settings.infoDelayMs = infoDelayMs;
    ASSERT_TRUE(writer.Begin(path, settings)) << writer.LastError();
    const uint32_t frames = static_cast<uint32_t>(1ull * durationMs * fpsNum / (1000ull * fpsDen));
    const uint32_t samples = sound ? durationMs * kxrec::SamplesPerMs : 0;
    uint32_t nextSample = 0;
    std::vector<uint8_t> picture(width * height * 2);
    std::vector<int16_t> pcm(kxrec::SoundPieceSamples);
    auto soundUntil = [&](uint64_t ms) {
        while (nextSample < samples && nextSample / kxrec::SamplesPerMs < ms) {
            const uint32_t count = std::min(kxrec::SoundPieceSamples, samples - nextSample);
            kxrec::SynthesizeTone(nextSample, count, pcm.data());
            ASSERT_TRUE(raw ? writer.AddPcm(nextSample, pcm.data(), count) : writer.AddTone(nextSample, count));
            nextSample += count;
        }
    };
    for (uint32_t n = 0; n < frames; ++n) {
        const uint32_t t = FrameTime(n, fpsNum, fpsDen);
        soundUntil(t);
        if (raw) {
            kxrec::SynthesizeTestPicture(n, t, width, height, picture.data(), width * 2);
            ASSERT_TRUE(writer.AddRawPicture(t, width, height, picture.data()));
        } else {
            ASSERT_TRUE(writer.AddTestPicture(t, n, width, height));
        }
    }
    soundUntil(UINT64_MAX);
    ASSERT_TRUE(writer.Commit()) << writer.LastError();
}
