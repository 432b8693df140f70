// The media both paths are measured on: the recording must hold every
// picture, in order, with the sound of its whole duration beside it, and the
// library must decode all of it, or the module's figures cover less work than
// the AVI source's.
#include "bench/BenchMedia.h"
#include "bench/LibraryDecodeRun.h"
#include "recording/RecordingReader.h"

#include <gtest/gtest.h>

namespace {

class BenchMediaTest : public ::testing::Test {
protected:
    void SetUp() override {
        path = BenchScratchFolder() + L"bench_media_test.kxr";
        plan.Width = 352;
        plan.Height = 288;
        plan.Frames = 60;
        std::string error;
        ASSERT_TRUE(WriteBenchRecording(path, plan, &error)) << error;
    }
    void TearDown() override { DeleteFileW(path.c_str()); }

    MediaPlan plan;
    std::wstring path;
};

}  // namespace

TEST_F(BenchMediaTest, RecordingHoldsEveryPictureInOrderAndTheWholeSound) {
    kxrec::CRecordingReader reader;
    ASSERT_TRUE(reader.Open(path)) << reader.LastError();
    uint32_t pictures = 0, samples = 0;
    for (const kxrec::RecordEntry& record : reader.Records()) {
        if (record.IsPicture()) {
            EXPECT_EQ(pictures, record.frameNumber);
            EXPECT_EQ(pictures * 1000 / plan.Fps, record.timeMs);
            EXPECT_EQ(plan.Width, record.width);
            EXPECT_EQ(plan.Height, record.height);
            ++pictures;
        } else {
            EXPECT_EQ(samples, record.firstSample) << "sound without gaps";
            samples += record.sampleCount;
        }
    }
    EXPECT_EQ(plan.Frames, pictures);
    EXPECT_EQ(plan.DurationMs() * 8, samples) << "8 kHz over the whole duration";
}

TEST_F(BenchMediaTest, TheLibraryAloneDecodesEveryPicture) {
    CLibraryDecodeRun run;
    double seconds = 0;
    EXPECT_TRUE(run.Run(path, plan.Frames, 30000, &seconds)) << "not every picture within 30 s";
    EXPECT_GT(seconds, 0);
    EXPECT_FALSE(run.Run(path, plan.Frames + 1, 3000, &seconds)) << "a picture more than the file holds";
}
