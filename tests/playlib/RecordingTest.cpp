#include "TempFolder.h"
#include "recording/Crc32.h"
#include "recording/RecordingReader.h"
#include "recording/RecordingWriter.h"
#include "recording/TestPattern.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <vector>

using namespace kxrec;

namespace {

std::vector<uint8_t> Picture(uint32_t frame, uint32_t width, uint32_t height, size_t stride = 0) {
    if (stride == 0) stride = width * 2;
    std::vector<uint8_t> buffer(stride * height, 0x55);
    EXPECT_TRUE(SynthesizeTestPicture(frame, frame * 40, width, height, buffer.data(), stride));
    return buffer;
}

std::vector<uint8_t> ReadAll(const std::wstring& path) {
    std::vector<uint8_t> bytes;
    FILE* f = _wfopen(path.c_str(), L"rb");
    if (f == nullptr) return bytes;
    int c;
    while ((c = fgetc(f)) != EOF) bytes.push_back(static_cast<uint8_t>(c));
    fclose(f);
    return bytes;
}

void WriteAll(const std::wstring& path, const std::vector<uint8_t>& bytes) {
    FILE* f = _wfopen(path.c_str(), L"wb");
    ASSERT_NE(f, nullptr);
    if (!bytes.empty()) fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
}

// A small recording with every record kind.
void WriteMixed(const std::wstring& path) {
    CRecordingWriter writer;
    RecordingSettings settings;
    settings.width = 64;
    settings.height = 48;
    ASSERT_TRUE(writer.Begin(path, settings)) << writer.LastError();
    ASSERT_TRUE(writer.AddTestPicture(0, 0, 64, 48));
    ASSERT_TRUE(writer.AddTone(0, 320));
    const std::vector<uint8_t> raw = Picture(1, 32, 24);
    ASSERT_TRUE(writer.AddRawPicture(40, 32, 24, raw.data()));
    std::vector<int16_t> pcm(320);
    SynthesizeTone(320, 320, pcm.data());
    ASSERT_TRUE(writer.AddPcm(320, pcm.data(), 320));
    ASSERT_TRUE(writer.Commit()) << writer.LastError();
}

}  // namespace

TEST(TestPicture, SynthesizedPicturesCheckOutWithTheirFrameAndSize) {
    const uint32_t sizes[][2] = {{1920, 1080}, {640, 480}, {320, 240}, {64, 48}, {32, 16}, {722, 577}};
    for (const auto& s : sizes) {
        for (uint32_t frame : {0u, 1u, 77u, 0xFFFFFFFEu}) {
            const std::vector<uint8_t> p = Picture(frame, s[0], s[1]);
            TestPictureId id{};
            ASSERT_TRUE(CheckTestPicture(p.data(), s[0], s[1], s[0] * 2, &id)) << s[0] << "x" << s[1];
            EXPECT_EQ(id.frameNumber, frame);
            EXPECT_EQ(id.width, s[0]);
            EXPECT_EQ(id.height, s[1]);
        }
    }
}

TEST(TestPicture, PaddedRowsCheckOutWhenTheStrideIsGiven) {
    const std::vector<uint8_t> p = Picture(9, 320, 240, 704);
    TestPictureId id{};
    ASSERT_TRUE(CheckTestPicture(p.data(), 320, 240, 704, &id));
    EXPECT_EQ(id.frameNumber, 9u);
    EXPECT_FALSE(CheckTestPicture(p.data(), 320, 240, 640, nullptr));
}

TEST(TestPicture, DamagedOrForeignPicturesFail) {
    const std::vector<uint8_t> p = Picture(5, 320, 240);
    // Cut short: the last rows were never copied.
    std::vector<uint8_t> cut = p;
    memset(cut.data() + 640 * 230, 0, 640 * 10);
    EXPECT_FALSE(CheckTestPicture(cut.data(), 320, 240, 640, nullptr));
    // Stale rows from another frame below the code.
    std::vector<uint8_t> stale = Picture(6, 320, 240);
    memcpy(stale.data(), p.data(), 640 * 16);
    EXPECT_FALSE(CheckTestPicture(stale.data(), 320, 240, 640, nullptr));
    // One code pixel flipped.
    std::vector<uint8_t> flipped = p;
    flipped[8 * 2 * 3] ^= 0xFF;
    EXPECT_FALSE(CheckTestPicture(flipped.data(), 320, 240, 640, nullptr));
    // Read at another size than it was made for.
    EXPECT_FALSE(CheckTestPicture(p.data(), 160, 240, 320, nullptr));
    EXPECT_FALSE(CheckTestPicture(p.data(), 320, 239, 640, nullptr));
    // Silence.
    std::vector<uint8_t> black(p.size(), 0);
    EXPECT_FALSE(CheckTestPicture(black.data(), 320, 240, 640, nullptr));
}

TEST(TestPicture, ShowsItsNumberAndTimeAndABlockThatMovesOutsideTheCheckedRows) {
    // 320x240: the code takes rows 0-23, the checker compares rows 24, 132 and 239.
    const auto luma = [](const std::vector<uint8_t>& p, uint32_t x, uint32_t y) { return p[(y * 320 + x) * 2]; };
    const std::vector<uint8_t> picture = Picture(5, 320, 240);
    std::vector<uint8_t> later(picture.size());
    ASSERT_TRUE(SynthesizeTestPicture(5, 4920, 320, 240, later.data(), 640));
    size_t changed = 0;
    for (uint32_t y = 0; y < 240; ++y) {
        for (uint32_t x = 0; x < 320; ++x) {
            if (luma(picture, x, y) == luma(later, x, y)) continue;
            ++changed;
            EXPECT_TRUE(y > 25 && y < 131) << "the time is drawn at row " << y;
        }
    }
    EXPECT_GT(changed, 100u) << "another time must show as other digits";
    // The block is white on a black track two rows below the middle row,
    // five pixel pairs further along for each picture.
    const auto blockAt = [&](const std::vector<uint8_t>& p) {
        uint32_t x = 0;
        while (x < 320 && luma(p, x, 134) != 235) ++x;
        return x;
    };
    EXPECT_EQ(16, luma(picture, 0, 134));
    EXPECT_EQ(blockAt(picture) + 10, blockAt(Picture(6, 320, 240)));
    // The lowest quarter stays background, as the contact sheet's check expects.
    for (uint32_t y = 180; y < 240; ++y) {
        EXPECT_EQ(0, memcmp(&picture[y * 640], &picture[239 * 640], 640)) << "row " << y;
    }
}

TEST(TestPicture, SizesThatCannotHoldTheCodeAreRefused) {
    std::vector<uint8_t> buffer(64 * 64 * 2);
    EXPECT_FALSE(TestPictureFits(31, 48));
    EXPECT_FALSE(TestPictureFits(8, 8));
    EXPECT_FALSE(TestPictureFits(4098, 64));
    EXPECT_FALSE(SynthesizeTestPicture(0, 0, 8, 8, buffer.data(), 16));
    EXPECT_FALSE(SynthesizeTestPicture(0, 0, 64, 48, buffer.data(), 64));
}

TEST(TestTone, AnyRunOfSamplesTellsItsPosition) {
    for (uint32_t first : {0u, 1u, 65533u, 65534u, 65535u, 131071u, 8000u * 3600u}) {
        std::vector<int16_t> tone(400);
        SynthesizeTone(first, 400, tone.data());
        uint32_t found = 0;
        ASSERT_TRUE(CheckTone(tone.data(), tone.size() * 2, &found)) << first;
        EXPECT_EQ(found, first);
        ASSERT_TRUE(CheckTone(tone.data() + 1, 4, &found));
        EXPECT_EQ(found, first + 1);
    }
}

TEST(TestTone, GapsRepeatsStaleBytesAndSilenceFail) {
    std::vector<int16_t> tone(400);
    SynthesizeTone(1000, 400, tone.data());
    std::vector<int16_t> gap = tone;
    gap.erase(gap.begin() + 200);
    EXPECT_FALSE(CheckTone(gap.data(), gap.size() * 2, nullptr));
    std::vector<int16_t> repeat = tone;
    repeat[201] = repeat[199];
    EXPECT_FALSE(CheckTone(repeat.data(), repeat.size() * 2, nullptr));
    std::vector<uint8_t> stale(reinterpret_cast<uint8_t*>(tone.data()), reinterpret_cast<uint8_t*>(tone.data()) + 800);
    stale[799] ^= 1;
    EXPECT_FALSE(CheckTone(stale.data(), stale.size(), nullptr));
    std::vector<int16_t> silence(400, 0);
    EXPECT_FALSE(CheckTone(silence.data(), silence.size() * 2, nullptr));
    EXPECT_FALSE(CheckTone(tone.data(), 799, nullptr));
    EXPECT_FALSE(CheckTone(tone.data(), 2, nullptr));
}

TEST(RecordingFile, EveryRecordKindReadsBackAsWritten) {
    CTempFolder folder;
    const std::wstring path = folder.File(L"mixed.kxr");
    WriteMixed(path);
    CRecordingReader reader;
    ASSERT_TRUE(reader.Open(path)) << reader.LastError();
    EXPECT_FALSE(reader.Damaged());
    EXPECT_EQ(reader.Header().pictureCount, 2u);
    EXPECT_EQ(reader.Header().soundSamples, 640u);
    EXPECT_EQ(reader.Header().durationMs, 80u);
    ASSERT_EQ(reader.Records().size(), 4u);
    std::vector<uint8_t> out;
    TestPictureId id{};
    ASSERT_TRUE(reader.Decode(0, out));
    ASSERT_EQ(out.size(), 64u * 48 * 2);
    ASSERT_TRUE(CheckTestPicture(out.data(), 64, 48, 128, &id));
    EXPECT_EQ(id.frameNumber, 0u);
    uint32_t first = 99;
    ASSERT_TRUE(reader.Decode(1, out));
    ASSERT_TRUE(CheckTone(out.data(), out.size(), &first));
    EXPECT_EQ(first, 0u);
    EXPECT_EQ(out.size(), 640u);
    ASSERT_TRUE(reader.Decode(2, out));
    EXPECT_EQ(out, Picture(1, 32, 24));
    EXPECT_EQ(reader.Records()[2].timeMs, 40u);
    ASSERT_TRUE(reader.Decode(3, out));
    ASSERT_TRUE(CheckTone(out.data(), out.size(), &first));
    EXPECT_EQ(first, 320u);
    EXPECT_EQ(reader.Records()[3].timeMs, 40u);
}

TEST(RecordingFile, WriterRefusesRecordsOutOfOrder) {
    CTempFolder folder;
    CRecordingWriter writer;
    RecordingSettings settings;
    settings.width = 64;
    settings.height = 48;
    ASSERT_TRUE(writer.Begin(folder.File(L"a.kxr"), settings));
    ASSERT_TRUE(writer.AddTestPicture(80, 0, 64, 48));
    EXPECT_FALSE(writer.AddTestPicture(40, 1, 64, 48));
    EXPECT_FALSE(writer.LastError().empty());
    EXPECT_FALSE(writer.Commit());

    ASSERT_TRUE(writer.Begin(folder.File(L"b.kxr"), settings));
    ASSERT_TRUE(writer.AddTone(0, 100));
    EXPECT_FALSE(writer.AddTone(101, 100));
    EXPECT_EQ(folder.List(), L"");
}

TEST(RecordingFile, AnAbandonedRecordingLeavesTheOldFileAndNoTemporary) {
    CTempFolder folder;
    const std::wstring path = folder.File(L"keep.kxr");
    WriteMixed(path);
    const std::vector<uint8_t> before = ReadAll(path);
    {
        CRecordingWriter writer;
        RecordingSettings settings;
        settings.width = 64;
        settings.height = 48;
        ASSERT_TRUE(writer.Begin(path, settings));
        ASSERT_TRUE(writer.AddTestPicture(0, 0, 64, 48));
    }
    EXPECT_EQ(ReadAll(path), before);
    EXPECT_EQ(folder.List(), L"keep.kxr;");
}

TEST(RecordingFile, EveryTruncationIsRefusedOrEndsTheIndexEarly) {
    CTempFolder folder;
    const std::wstring path = folder.File(L"whole.kxr");
    WriteMixed(path);
    const std::vector<uint8_t> whole = ReadAll(path);
    const std::wstring cutPath = folder.File(L"cut.kxr");
    for (size_t length = 0; length < whole.size(); ++length) {
        WriteAll(cutPath, std::vector<uint8_t>(whole.begin(), whole.begin() + length));
        CRecordingReader reader;
        if (!reader.Open(cutPath)) {
            EXPECT_LT(length, sizeof(RecordingHeader));
            continue;
        }
        EXPECT_TRUE(reader.Damaged()) << length;
        std::vector<uint8_t> out;
        for (size_t i = 0; i < reader.Records().size(); ++i) EXPECT_TRUE(reader.Decode(i, out)) << length;
    }
}

TEST(RecordingFile, EveryFlippedByteIsFound) {
    CTempFolder folder;
    const std::wstring path = folder.File(L"whole.kxr");
    WriteMixed(path);
    const std::vector<uint8_t> whole = ReadAll(path);
    const std::wstring badPath = folder.File(L"bad.kxr");
    for (size_t at = 0; at < whole.size(); ++at) {
        std::vector<uint8_t> bad = whole;
        bad[at] ^= 0x10;
        WriteAll(badPath, bad);
        CRecordingReader reader;
        if (!reader.Open(badPath)) continue;
        bool found = reader.Damaged();
        std::vector<uint8_t> out;
        for (size_t i = 0; i < reader.Records().size() && !found; ++i) found = !reader.Decode(i, out);
        EXPECT_TRUE(found) << "flip at byte " << at << " went unnoticed";
    }
}

TEST(RecordingFile, HugeSizesInAHeaderOrRecordAreNotBelieved) {
    CTempFolder folder;
    const std::wstring path = folder.File(L"whole.kxr");
    WriteMixed(path);
    std::vector<uint8_t> bytes = ReadAll(path);
    // A raw picture claiming 4096x4096 with a checksum that matches its header:
    // the payload it announces is not in the file.
    RecordingHeader header;
    memcpy(&header, bytes.data(), sizeof(header));
    header.width = 100000;
    header.headerCrc = Crc32(0, &header, offsetof(RecordingHeader, headerCrc));
    std::vector<uint8_t> badHeader = bytes;
    memcpy(badHeader.data(), &header, sizeof(header));
    WriteAll(folder.File(L"h.kxr"), badHeader);
    CRecordingReader reader;
    EXPECT_FALSE(reader.Open(folder.File(L"h.kxr")));

    std::vector<uint8_t> badRecord = bytes;
    const uint32_t huge = 0x7FFFFFF0;
    memcpy(badRecord.data() + sizeof(RecordingHeader) + 4, &huge, 4);
    WriteAll(folder.File(L"r.kxr"), badRecord);
    ASSERT_TRUE(reader.Open(folder.File(L"r.kxr")));
    EXPECT_TRUE(reader.Damaged());
    EXPECT_TRUE(reader.Records().empty());
}

TEST(RecordingFile, MissingAndForeignFilesAreRefused) {
    CTempFolder folder;
    CRecordingReader reader;
    EXPECT_FALSE(reader.Open(folder.File(L"missing.kxr")));
    EXPECT_FALSE(reader.LastError().empty());
    WriteAll(folder.File(L"text.kxr"), std::vector<uint8_t>(200, 'x'));
    EXPECT_FALSE(reader.Open(folder.File(L"text.kxr")));
    WriteAll(folder.File(L"empty.kxr"), {});
    EXPECT_FALSE(reader.Open(folder.File(L"empty.kxr")));
}
