// kxvplay export: an AVI that the platform's own AVI source reads back with
// every picture of the range and the whole sound, Y4M and WAV streams that
// hold the test pictures and the tone, and never a half-written file under
// the final name, whichever writer the platform allows.
#include "AppTest.h"
#include "AviReadBack.h"
#include "SampleLog.h"
#include "recording/TestPattern.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

std::string ReadAll(const std::wstring& path) {
    std::string content;
    FILE* file = _wfopen(path.c_str(), L"rb");
    if (!file) return content;
    char buffer[4096];
    size_t got = 0;
    while ((got = fread(buffer, 1, sizeof(buffer), file)) > 0) content.append(buffer, got);
    fclose(file);
    return content;
}

void WriteText(const std::wstring& path, const char* text) {
    FILE* file = _wfopen(path.c_str(), L"wb");
    ASSERT_NE(nullptr, file);
    fputs(text, file);
    fclose(file);
}

bool Exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

uint32_t Read32(const std::string& bytes, size_t at) {
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.data() + at);
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// The frame numbers of the test pictures in a Y4M stream of 4:2:2 frames
// after its header line, each packed back into YUY2 and checked whole; -1
// for a frame that is not a whole test picture.
std::vector<int64_t> Y4mFrameNumbers(const std::string& stream, uint32_t width, uint32_t height) {
    std::vector<int64_t> numbers;
    const size_t pixels = static_cast<size_t>(width) * height;
    std::vector<uint8_t> yuy2(pixels * 2);
    size_t at = stream.find('\n') + 1;
    while (at + 6 + pixels * 2 <= stream.size() && stream.compare(at, 6, "FRAME\n") == 0) {
        const auto* y = reinterpret_cast<const uint8_t*>(stream.data() + at + 6);
        const uint8_t* u = y + pixels;
        const uint8_t* v = u + pixels / 2;
        for (size_t pair = 0; pair < pixels / 2; ++pair) {
            yuy2[pair * 4] = y[pair * 2];
            yuy2[pair * 4 + 1] = u[pair];
            yuy2[pair * 4 + 2] = y[pair * 2 + 1];
            yuy2[pair * 4 + 3] = v[pair];
        }
        kxrec::TestPictureId id{};
        numbers.push_back(kxrec::CheckTestPicture(yuy2.data(), width, height, width * 2, &id) ? id.frameNumber : -1);
        at += 6 + pixels * 2;
    }
    EXPECT_EQ(stream.size(), at) << "bytes after the last whole frame";
    return numbers;
}

size_t CountLines(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

class ExportTest : public AppTest {
protected:
    // Reads the export back and checks that it holds the test pictures
    // firstFrame..firstFrame+frames-1 in order and one unbroken run of tone
    // from firstTone covering at least tones samples; after a seek the sound
    // may begin later inside the first picture, where the library was asked
    // to start.
    // exact: the sound holds tones samples and nothing more.
    void ExpectContent(const std::wstring& avi, const RecordingPlan& plan, int64_t firstFrame, size_t frames,
                       int64_t firstTone, int64_t tones, bool exact) {
        CSampleLog video(CSampleLog::Kind::Video, plan.Width, plan.Height);
        CSampleLog audio(CSampleLog::Kind::Audio);
        ASSERT_TRUE(ReadAviBack(avi, &video, &audio)) << "the platform's AVI source cannot play the export";
        const std::vector<DeliveredSample> pictures = video.Snapshot();
        ASSERT_EQ(frames, pictures.size()) << "pictures in the export";
        for (size_t i = 0; i < pictures.size(); ++i) {
            EXPECT_EQ(firstFrame + static_cast<int64_t>(i), pictures[i].Frame) << "picture " << i;
        }
        const std::vector<DeliveredSample> sound = audio.Snapshot();
        ASSERT_FALSE(sound.empty()) << "no sound in the export";
        const int64_t picture = 8000ll * plan.FpsDen / plan.Fps;
        EXPECT_GE(sound.front().FirstTone, firstTone) << "where the sound begins";
        EXPECT_LT(sound.front().FirstTone, firstFrame == 0 ? firstTone + 1 : firstTone + picture)
            << "where the sound begins";
        firstTone = sound.front().FirstTone;
        int64_t next = sound.front().FirstTone;
        for (const DeliveredSample& part : sound) {
            EXPECT_EQ(next, part.FirstTone) << "sound out of place";
            next = part.FirstTone + part.Bytes / 2;
        }
        EXPECT_GE(next - firstTone + picture, tones) << "sound missing";
        if (exact) {
            EXPECT_EQ(tones, next - firstTone) << "sound past the end";
        }
    }
};

TEST_F(ExportTest, WholeFileHoldsEveryPictureAndTheWholeSoundAndReplacesTheOldFile) {
    RecordingPlan plan;
    plan.DurationMs = 2000;
    const std::wstring recording = Recording(L"export.kxr", plan);
    const std::wstring avi = Temp.File(L"out.avi");
    WriteText(avi, "an earlier export");

    const ChildResult run = Kxvplay({L"export", recording, avi, L"--json"});
    ASSERT_EQ(0, run.ExitCode) << run.Err;
    EXPECT_FALSE(Exists(avi + L".partial")) << "the temporary file was left behind";
    const std::string writer = JsonField(run.Out, "writer");
    EXPECT_TRUE(writer == "platform" || writer == "kxvplay") << run.Out;
    EXPECT_EQ(1u, CountLines(run.Err, "writing the AVI")) << "the writer used is named once: " << run.Err;
    EXPECT_EQ("true", JsonField(run.Out, "sound_in_output")) << run.Out;
    EXPECT_EQ(static_cast<double>(plan.FrameCount()), JsonNumber(run.Out, "pictures")) << run.Out;
    ExpectContent(avi, plan, 0, plan.FrameCount(), 0, plan.SoundSamples(), true);
}

TEST_F(ExportTest, RangeHoldsEveryPictureFromStartToStop) {
    RecordingPlan plan;
    plan.DurationMs = 3000;
    const std::wstring recording = Recording(L"range.kxr", plan);
    const std::wstring avi = Temp.File(L"range.avi");

    const ChildResult run = Kxvplay({L"export", recording, avi, L"--start", L"1", L"--stop", L"2", L"--json"});
    ASSERT_EQ(0, run.ExitCode) << run.Err;
    EXPECT_FALSE(Exists(avi + L".partial"));
    // One second at 25 pictures per second, 8000 sound samples per second.
    ExpectContent(avi, plan, 25, 25, 8000, 8000, false);
}

TEST_F(ExportTest, Y4mOnStandardOutputHoldsEveryPictureOfTheRangeAndTheSummaryGoesToStderr) {
    RecordingPlan plan;
    plan.DurationMs = 3000;
    const std::wstring recording = Recording(L"pipe.kxr", plan);

    const ChildResult run =
        Kxvplay({L"export", recording, L"-", L"--format", L"y4m", L"--start", L"1", L"--stop", L"2", L"--json"});
    ASSERT_EQ(0, run.ExitCode) << run.Err;
    EXPECT_EQ(0, run.Out.compare(0, run.Out.find('\n') + 1, "YUV4MPEG2 W352 H288 F25:1 Ip A1:1 C422\n"))
        << run.Out.substr(0, 80);
    const std::vector<int64_t> frames = Y4mFrameNumbers(run.Out, plan.Width, plan.Height);
    ASSERT_EQ(25u, frames.size());
    for (size_t i = 0; i < frames.size(); ++i) EXPECT_EQ(25 + static_cast<int64_t>(i), frames[i]) << "frame " << i;
    EXPECT_EQ("y4m", JsonField(run.Err, "format")) << run.Err;
    EXPECT_EQ("-", JsonField(run.Err, "output")) << run.Err;
    EXPECT_EQ(25, JsonNumber(run.Err, "pictures")) << run.Err;
}

TEST_F(ExportTest, WavFileHoldsTheWholeToneWithItsSizesAndARecordingWithoutSoundLeavesNoFile) {
    // Longer than the pictures the source buffers, which nobody reads here.
    RecordingPlan plan;
    plan.DurationMs = 3000;
    const std::wstring recording = Recording(L"sound.kxr", plan);
    const std::wstring wav = Temp.File(L"sound.wav");

    const ChildResult run = Kxvplay({L"export", recording, wav, L"--json"});
    ASSERT_EQ(0, run.ExitCode) << run.Err;
    EXPECT_EQ("wav", JsonField(run.Out, "format")) << run.Out;
    EXPECT_EQ("true", JsonField(run.Out, "completed")) << "the sound stream ends by itself: " << run.Out;
    EXPECT_FALSE(Exists(wav + L".partial"));
    const std::string content = ReadAll(wav);
    const uint32_t bytes = plan.SoundSamples() * 2;
    ASSERT_EQ(44u + bytes, content.size());
    EXPECT_EQ(0, content.compare(0, 4, "RIFF"));
    EXPECT_EQ(36u + bytes, Read32(content, 4)) << "the sizes are completed at the end";
    EXPECT_EQ(8000u, Read32(content, 24));
    EXPECT_EQ(bytes, Read32(content, 40));
    uint32_t first = 1;
    EXPECT_TRUE(kxrec::CheckTone(content.data() + 44, bytes, &first)) << "the tone, unbroken";
    EXPECT_EQ(0u, first);

    plan.Sound = false;
    const std::wstring silent = Recording(L"silent.kxr", plan);
    const std::wstring none = Temp.File(L"none.wav");
    const ChildResult nothing = Kxvplay({L"export", silent, none});
    EXPECT_EQ(6, nothing.ExitCode) << nothing.Err;
    EXPECT_NE(std::string::npos, nothing.Err.find("no sound")) << nothing.Err;
    EXPECT_FALSE(Exists(none));
    EXPECT_FALSE(Exists(none + L".partial"));
}

TEST_F(ExportTest, OutputInAMissingFolderLeavesNothing) {
    RecordingPlan plan;
    plan.DurationMs = 1000;
    const std::wstring recording = Recording(L"short.kxr", plan);
    const std::wstring avi = Temp.File(L"absent\\out.avi");
    const ChildResult run = Kxvplay({L"export", recording, avi});
    EXPECT_EQ(7, run.ExitCode) << run.Err;
    EXPECT_NE(std::string::npos, run.Err.find("does not exist")) << run.Err;
    EXPECT_FALSE(Exists(avi));
    EXPECT_FALSE(Exists(avi + L".partial"));
}

TEST_F(ExportTest, ReadOnlyOldFileStaysAsItWasAndNoPartialRemains) {
    RecordingPlan plan;
    plan.DurationMs = 1000;
    const std::wstring recording = Recording(L"short.kxr", plan);
    const std::wstring avi = Temp.File(L"locked.avi");
    WriteText(avi, "an earlier export");
    ASSERT_TRUE(SetFileAttributesW(avi.c_str(), FILE_ATTRIBUTE_READONLY));

    const ChildResult run = Kxvplay({L"export", recording, avi});
    SetFileAttributesW(avi.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(7, run.ExitCode) << run.Err;
    EXPECT_TRUE(ReadAll(avi) == "an earlier export") << "a failed export touched the final file";
    EXPECT_NE(std::string::npos, run.Err.find("read-only")) << run.Err;
    EXPECT_FALSE(Exists(avi + L".partial")) << "the temporary file was left behind";
}

TEST_F(ExportTest, UnwritableTemporaryNameFailsWithoutOutput) {
    RecordingPlan plan;
    plan.DurationMs = 1000;
    const std::wstring recording = Recording(L"short.kxr", plan);
    const std::wstring avi = Temp.File(L"blocked.avi");
    // A folder where the temporary file would go can be neither removed
    // nor written as a file.
    ASSERT_TRUE(CreateDirectoryW((avi + L".partial").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((avi + L".partial\\inside").c_str(), nullptr));

    const ChildResult run = Kxvplay({L"export", recording, avi});
    EXPECT_EQ(7, run.ExitCode) << run.Err;
    EXPECT_FALSE(Exists(avi)) << "a failed export left a file under the final name";
    RemoveDirectoryW((avi + L".partial\\inside").c_str());
    RemoveDirectoryW((avi + L".partial").c_str());
}

TEST_F(ExportTest, RefusedInputLeavesNoOutput) {
    const std::wstring avi = Temp.File(L"none.avi");
    const ChildResult run = Kxvplay({L"export", Temp.File(L"absent.kxr"), avi});
    EXPECT_EQ(2, run.ExitCode) << run.Err;
    EXPECT_FALSE(Exists(avi));
    EXPECT_FALSE(Exists(avi + L".partial"));
}

}  // namespace
