// The AVI the bench feeds to the platform's own file source must hold the
// very pictures the module gets, or the comparison with the module is void;
// and the tap that judges delivery must see each of them, whole and in order.
// The writer's layout is tested with the writer (tools/avi).
#include "bench/BenchGraph.h"
#include "bench/BenchMedia.h"
#include "bench/SampleTap.h"
#include "recording/TestPattern.h"
#include "formats/avi/AviFileWriter.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

class BenchAviTest : public ::testing::Test {
protected:
    void SetUp() override { path = BenchScratchFolder() + L"bench_avi_test.avi"; }
    void TearDown() override { DeleteFileW(path.c_str()); }

    std::wstring path;
};

}  // namespace

TEST_F(BenchAviTest, ThePlatformSplitterDeliversEveryFrame) {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    MediaPlan plan;
    plan.Width = 176;
    plan.Height = 144;
    plan.Frames = 20;
    std::string error;
    ASSERT_TRUE(WriteBenchAvi(path, plan, &error)) << error;
    {
        CSampleTap tap;
        tap.CheckContent(TapContent::TestPictures, plan.Width, plan.Height);
        CBenchGraph graph;
        ASSERT_EQ(S_OK, graph.BuildAvi(path, &tap));
        ASSERT_TRUE(SUCCEEDED(graph.Run()));
        EXPECT_TRUE(graph.WaitForComplete(30000)) << "no EC_COMPLETE within 30 s";
        EXPECT_EQ(plan.Frames, tap.Count());
        EXPECT_EQ(plan.Frames, tap.InOrder()) << "every picture whole, in order";
        EXPECT_EQ(plan.Frames * plan.PictureBytes(), tap.Bytes());
        graph.Stop();
    }
    CoUninitialize();
}

TEST_F(BenchAviTest, TheTapCountsInOrderOnlyPicturesThatFollowTheirPredecessor) {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    // A repeated picture and a missing one: 0 1 2 2 4 5.
    const uint32_t frames[] = {0, 1, 2, 2, 4, 5};
    AviVideoFormat format;
    format.Width = 176;
    format.Height = 144;
    format.PictureBytes = 176 * 144 * 2;
    std::vector<uint8_t> picture(format.PictureBytes);
    {
        CAviFileWriter writer;
        ASSERT_TRUE(SUCCEEDED(writer.Open(path, format, nullptr)));
        for (uint32_t frame : frames) {
            ASSERT_TRUE(kxrec::SynthesizeTestPicture(frame, frame * 40, 176, 144, picture.data(), 176 * 2));
            ASSERT_TRUE(SUCCEEDED(writer.AddPicture(picture.data(), format.PictureBytes)));
        }
        ASSERT_TRUE(SUCCEEDED(writer.Finish()));
    }
    {
        CSampleTap tap;
        tap.CheckContent(TapContent::TestPictures, 176, 144);
        CBenchGraph graph;
        ASSERT_EQ(S_OK, graph.BuildAvi(path, &tap));
        ASSERT_TRUE(SUCCEEDED(graph.Run()));
        EXPECT_TRUE(graph.WaitForComplete(30000)) << "no EC_COMPLETE within 30 s";
        EXPECT_EQ(6u, tap.Count());
        EXPECT_EQ(4u, tap.InOrder()) << "0, 1, 2 and 5 follow their predecessor; the second 2 and the 4 do not";
        graph.Stop();
    }
    CoUninitialize();
}
