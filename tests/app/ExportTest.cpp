// kxvplay export: an AVI that the platform's own AVI source reads back with
// every picture of the range and the whole sound, and never a half-written
// file under the final name, whichever writer the platform allows.
#include "AppTest.h"
#include "AviReadBack.h"
#include "SampleLog.h"

#include <cstdio>
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

size_t CountLines(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

class ExportTest : public AppTest {
protected:
    // Reads the export back and checks that it holds the test pictures
    // firstFrame..firstFrame+frames-1 in order and one unbroken run of tone
    // from firstTone covering at least tones samples.
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
        EXPECT_EQ(firstTone, sound.front().FirstTone) << "where the sound begins";
        int64_t next = sound.front().FirstTone;
        for (const DeliveredSample& part : sound) {
            EXPECT_EQ(next, part.FirstTone) << "sound out of place";
            next = part.FirstTone + part.Bytes / 2;
        }
        EXPECT_GE(next - firstTone, tones) << "sound missing";
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
