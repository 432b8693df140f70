// The streamed formats on their own: the Y4M rate from a picture duration,
// its header and planes, and the WAV header with known and unknown sizes.
#include "formats/rawstream/WavFormat.h"
#include "formats/rawstream/Y4mFormat.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

uint32_t Read32(const uint8_t* at) {
    return at[0] | at[1] << 8 | at[2] << 16 | static_cast<uint32_t>(at[3]) << 24;
}

TEST(Y4mFormatTest, RateIsTheSimplestFractionWhoseDurationRoundsToThePictureDuration) {
    const struct {
        int64_t Duration;
        uint32_t Numerator, Denominator;
    } cases[] = {{400000, 25, 1},     {333333, 30, 1},       {800000, 25, 2}, {1333333, 15, 2},
                 {333667, 2997, 100}, {10000000, 1, 1},      {20000000, 1, 2}, {1, 6666667, 1}};
    for (const auto& c : cases) {
        const CY4mFormat::Rate rate = CY4mFormat::RateOf(c.Duration);
        EXPECT_EQ(c.Numerator, rate.Numerator) << c.Duration;
        EXPECT_EQ(c.Denominator, rate.Denominator) << c.Duration;
    }
}

TEST(Y4mFormatTest, HeaderNamesSizeRateAnd422AndFramesCarryThePlanesWithoutTheRowPadding) {
    EXPECT_EQ("YUV4MPEG2 W352 H288 F25:2 Ip A1:1 C422\n", CY4mFormat::StreamHeader(352, 288, {25, 2}));
    // 4x2 pixels in rows of 12 bytes: Y0 U Y1 V pairs, then padding.
    const uint8_t yuy2[] = {1, 2, 3, 4, 5, 6, 7, 8, 99, 99, 99, 99,
                            11, 12, 13, 14, 15, 16, 17, 18, 99, 99, 99, 99};
    std::vector<uint8_t> frame(CY4mFormat::FrameBytes(4, 2));
    ASSERT_EQ(6u + 16u, frame.size());
    CY4mFormat::Frame(yuy2, 12, 4, 2, frame.data());
    const uint8_t expected[] = {'F', 'R', 'A', 'M', 'E', '\n', 1, 3, 5, 7, 11, 13, 15, 17, 2, 6, 12, 16, 4, 8, 14, 18};
    EXPECT_EQ(0, memcmp(expected, frame.data(), sizeof(expected)));
}

TEST(WavFormatTest, HeaderCarriesTheSizesOrSaysUnknown) {
    const PcmShape shape;   // 8 kHz mono 16-bit
    const auto known = CWavFormat::Header(shape, 64000);
    EXPECT_EQ(0, memcmp(known.data(), "RIFF", 4));
    EXPECT_EQ(36u + 64000u, Read32(&known[4]));
    EXPECT_EQ(0, memcmp(&known[8], "WAVEfmt ", 8));
    EXPECT_EQ(16u, Read32(&known[16]));
    EXPECT_EQ(1u | 1u << 16, Read32(&known[20])) << "PCM, one channel";
    EXPECT_EQ(8000u, Read32(&known[24]));
    EXPECT_EQ(16000u, Read32(&known[28]));
    EXPECT_EQ(2u | 16u << 16, Read32(&known[32])) << "block of 2 bytes, 16 bits";
    EXPECT_EQ(0, memcmp(&known[36], "data", 4));
    EXPECT_EQ(64000u, Read32(&known[40]));
    for (const uint64_t length : {CWavFormat::UnknownLength, uint64_t{0xFFFFFFFF}}) {
        const auto unknown = CWavFormat::Header(shape, length);
        EXPECT_EQ(0xFFFFFFFFu, Read32(&unknown[4]));
        EXPECT_EQ(0xFFFFFFFFu, Read32(&unknown[40]));
    }
}

}  // namespace
