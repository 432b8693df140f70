// The AVI the bench feeds to the platform's own file source must hold the
// very pictures the module gets, or the comparison with the module is void;
// and the tap that judges delivery must see each of them, whole and in order.
// The writer's layout is tested with the writer (tools/avi).
#include "bench/BenchGraph.h"
#include "bench/BenchMedia.h"
#include "bench/SampleTap.h"

#include <gtest/gtest.h>

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
