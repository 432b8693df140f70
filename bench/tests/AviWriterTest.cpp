// The AVI the bench feeds to the platform's file source: its RIFF layout
// must be exact, or the splitter refuses it (or worse, plays other bytes),
// and the comparison with the module is void.
#include "bench/AviWriter.h"
#include "bench/BenchGraph.h"
#include "bench/BenchMedia.h"
#include "bench/SampleTap.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

uint32_t At(const std::vector<uint8_t>& file, size_t offset) {
    uint32_t value = 0;
    std::memcpy(&value, file.data() + offset, 4);
    return value;
}

bool TagAt(const std::vector<uint8_t>& file, size_t offset, const char* tag) {
    return offset + 4 <= file.size() && std::memcmp(file.data() + offset, tag, 4) == 0;
}

// Offset of the first chunk or list with this tag (list type for LISTs) at
// or after from; npos when none.
size_t Find(const std::vector<uint8_t>& file, const char* tag, size_t from = 12) {
    for (size_t at = from; at + 8 <= file.size(); ++at) {
        if (TagAt(file, at, tag)) return at;
    }
    return std::string::npos;
}

class AviWriterTest : public ::testing::Test {
protected:
    void SetUp() override { path = BenchScratchFolder() + L"avi_writer_test.avi"; }
    void TearDown() override { DeleteFileW(path.c_str()); }

    std::vector<uint8_t> Written() {
        std::ifstream in(path.c_str(), std::ios::binary);
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    std::wstring path;
};

}  // namespace

TEST_F(AviWriterTest, SizesHeadersAndIndexDescribeTheFramesWritten) {
    constexpr uint32_t Width = 64, Height = 32, Frames = 5, FrameBytes = Width * Height * 2;
    CAviWriter writer;
    ASSERT_TRUE(writer.Begin(path, Width, Height, 25, Frames));
    std::vector<uint8_t> frame(FrameBytes);
    for (uint32_t n = 0; n < Frames; ++n) {
        std::fill(frame.begin(), frame.end(), static_cast<uint8_t>(0x10 + n));
        ASSERT_TRUE(writer.AddFrame(frame.data()));
    }
    ASSERT_TRUE(writer.Finish());

    const std::vector<uint8_t> file = Written();
    ASSERT_GT(file.size(), 12u);
    EXPECT_TRUE(TagAt(file, 0, "RIFF") && TagAt(file, 8, "AVI "));
    EXPECT_EQ(file.size() - 8, At(file, 4)) << "RIFF size";

    const size_t avih = Find(file, "avih");
    ASSERT_NE(std::string::npos, avih);
    EXPECT_EQ(40000u, At(file, avih + 8)) << "microseconds per frame at 25 fps";
    EXPECT_EQ(Frames, At(file, avih + 8 + 16)) << "total frames";
    EXPECT_EQ(Width, At(file, avih + 8 + 32));
    EXPECT_EQ(Height, At(file, avih + 8 + 36));

    const size_t strh = Find(file, "strh");
    ASSERT_NE(std::string::npos, strh);
    EXPECT_TRUE(TagAt(file, strh + 8, "vids"));
    const size_t strf = Find(file, "strf");
    ASSERT_NE(std::string::npos, strf);
    EXPECT_EQ(Width, At(file, strf + 8 + 4));
    EXPECT_EQ(Height, At(file, strf + 8 + 8));
    EXPECT_TRUE(TagAt(file, strf + 8 + 16, "YUY2")) << "biCompression";
    EXPECT_EQ(FrameBytes, At(file, strf + 8 + 20)) << "biSizeImage";

    const size_t movi = Find(file, "movi");
    ASSERT_NE(std::string::npos, movi);
    const uint32_t moviBytes = At(file, movi - 4);
    const size_t idx1 = Find(file, "idx1", movi);
    ASSERT_NE(std::string::npos, idx1);
    EXPECT_EQ(movi + moviBytes, idx1) << "the movi list ends where the index begins";
    ASSERT_EQ(Frames * 16, At(file, idx1 + 4));
    for (uint32_t n = 0; n < Frames; ++n) {
        const size_t entry = idx1 + 8 + n * 16;
        EXPECT_TRUE(TagAt(file, entry, "00db"));
        EXPECT_EQ(0x10u, At(file, entry + 4)) << "key frame";
        EXPECT_EQ(FrameBytes, At(file, entry + 12));
        const size_t chunk = movi + At(file, entry + 8);
        ASSERT_TRUE(TagAt(file, chunk, "00db")) << "index entry " << n << " points at a chunk";
        EXPECT_EQ(FrameBytes, At(file, chunk + 4));
        EXPECT_EQ(0x10 + n, file[chunk + 8]) << "frame " << n << " first byte";
        EXPECT_EQ(0x10 + n, file[chunk + 8 + FrameBytes - 1]) << "frame " << n << " last byte";
    }
}

TEST_F(AviWriterTest, RefusesWhatItCannotWriteWhole) {
    CAviWriter tooLarge;
    EXPECT_FALSE(tooLarge.Begin(path, 1920, 1080, 25, 300)) << "over 1 GB";
    CAviWriter empty;
    EXPECT_FALSE(empty.Begin(path, 0, 288, 25, 10));
    EXPECT_FALSE(empty.Begin(path, 352, 288, 25, 0));

    std::vector<uint8_t> frame(32 * 16 * 2, 1);
    {
        CAviWriter shortOne;
        ASSERT_TRUE(shortOne.Begin(path, 32, 16, 25, 2));
        ASSERT_TRUE(shortOne.AddFrame(frame.data()));
        EXPECT_FALSE(shortOne.Finish()) << "one of two frames";
    }
    CAviWriter overfull;
    ASSERT_TRUE(overfull.Begin(path, 32, 16, 25, 1));
    ASSERT_TRUE(overfull.AddFrame(frame.data()));
    EXPECT_FALSE(overfull.AddFrame(frame.data())) << "more frames than planned";
    EXPECT_TRUE(overfull.Finish());
}

TEST_F(AviWriterTest, ThePlatformSplitterDeliversEveryFrame) {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    MediaPlan plan;
    plan.Width = 176;
    plan.Height = 144;
    plan.Frames = 20;
    std::string error;
    ASSERT_TRUE(WriteBenchAvi(path, plan, &error)) << error;
    {
        CSampleTap tap;
        CBenchGraph graph;
        ASSERT_EQ(S_OK, graph.BuildAvi(path, &tap));
        ASSERT_TRUE(SUCCEEDED(graph.Run()));
        EXPECT_TRUE(graph.WaitForComplete(30000)) << "no EC_COMPLETE within 30 s";
        EXPECT_EQ(plan.Frames, tap.Count());
        graph.Stop();
    }
    CoUninitialize();
}
