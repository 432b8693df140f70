// The file object against a scripted library: call orders and counts, the
// size rules, flow control, reads, flushes, seeking and the getters' waits.
#include "FakePlayLibrary.h"
#include "ReaderTestSupport.h"
#include "reader/KXFile.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

using Calls = std::vector<std::string>;

namespace {

struct EventCloser {
    void operator()(HANDLE event) const { CloseHandle(event); }
};
using UniqueEvent = std::unique_ptr<void, EventCloser>;

CKXFile::WaitLimits ShortWaits() {
    CKXFile::WaitLimits waits;
    waits.SizeMs = 100;
    waits.InfoMs = 100;
    return waits;
}

const Calls OpenSequence = {"Open", "SetMsgWnd", "SetFileEndMsg:1124", "SetCallback:0,258",
                            "SetDecodeMode:1", "SetPlayOption:0,1", "SetDecodeMode:1", "Play:0"};
const Calls StartSequence = {"SetPlayOption:0,1", "SetDecodeMode:1", "Play:0"};

Calls Join(std::initializer_list<Calls> parts) {
    Calls all;
    for (const Calls& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

class KXFileTest : public ::testing::Test {
protected:
    void SetUp() override { File.reset(new CKXFile(Lib.Api(), ShortWaits())); }

    void Open() {
        ASSERT_TRUE(File->OpenFile(L"C:\\a.kx"));
        Lib.ForgetCalls();
    }
    void Pictures(int count, int32_t width = 16, int32_t height = 8) {
        for (int i = 0; i < count; ++i) ASSERT_TRUE(Lib.Picture(width, height, static_cast<uint8_t>(i)));
    }
    bool ReadOne() {
        std::vector<uint8_t> sink(static_cast<size_t>(File->State().PictureBytes));
        return File->ReadVideoFrame(sink.data(), static_cast<int32_t>(sink.size()));
    }
    void Notice(UINT message, const std::function<bool()>& done) {
        ASSERT_TRUE(Lib.Post(message));
        ASSERT_TRUE(WaitUntil(File->PictureEvent(), done, 5000)) << "notice " << message << " not handled";
    }

    CFakePlayLibrary Lib;
    std::unique_ptr<CKXFile> File;
};

}  // namespace

TEST_F(KXFileTest, OpenWiresWindowAndCallbackThenStarts) {
    EXPECT_TRUE(File->OpenFile(L"C:\\a.kx"));
    EXPECT_EQ(Lib.Calls(), OpenSequence);
    EXPECT_NE(Lib.Window(), nullptr);
    EXPECT_TRUE(File->State().Playing);
    EXPECT_FALSE(File->State().Stopped);
}

TEST_F(KXFileTest, NullPathChangesNothing) {
    Open();
    EXPECT_FALSE(File->OpenFile(nullptr));
    EXPECT_TRUE(Lib.Calls().empty());
    EXPECT_TRUE(File->State().Open);
}

TEST_F(KXFileTest, RefusedFileLeavesObjectClosedAndDestructible) {
    Lib.RefuseOpen(true);
    EXPECT_FALSE(File->OpenFile(L"C:\\bad.kx"));
    EXPECT_EQ(Lib.Calls(), Calls{"Open"});
    EXPECT_FALSE(File->State().Open);
    RunBounded([&] { File.reset(); }, 10000, "destruction after a refused open");
}

TEST_F(KXFileTest, MissingLibraryFailsEveryOpen) {
    CKXFile orphan(nullptr, ShortWaits());
    for (int i = 0; i < 3; ++i) EXPECT_FALSE(orphan.OpenFile(L"C:\\a.kx"));
    EXPECT_FALSE(orphan.State().Open);
    EXPECT_EQ(orphan.GetDurationMs(), 0u);
    EXPECT_EQ(orphan.GetFrameRate(), 0);
}

TEST_F(KXFileTest, FailedStartClosesTheFile) {
    Lib.SetAnswers(FALSE, TRUE, TRUE);
    EXPECT_FALSE(File->OpenFile(L"C:\\a.kx"));
    EXPECT_EQ(Lib.Calls().back(), "Close");
    EXPECT_FALSE(File->State().Open);
}

TEST_F(KXFileTest, ReopenClosesFirstDropsItsDataAndStartsTheNewFile) {
    Open();
    Pictures(3);
    EXPECT_TRUE(File->OpenFile(L"C:\\b.kx"));
    EXPECT_EQ(Lib.Calls(), Join({{"Close"}, OpenSequence}));
    EXPECT_EQ(File->QueuedPictureCount(), 0);
    EXPECT_TRUE(File->State().Playing);
}

TEST_F(KXFileTest, CloseResetsFileValuesAndTwiceDoesNothing) {
    Open();
    Lib.SetInfo(250, 10000);
    ASSERT_TRUE(Lib.Post(KX_MSG_FILE_INFO));
    EXPECT_EQ(File->GetDurationMs(), 10000u);
    File->CloseFile();
    EXPECT_EQ(File->GetDurationMs(), 0u);
    EXPECT_EQ(File->GetFrameRate(), 0);
    EXPECT_EQ(File->GetPicturePeriod(), 0.0);
    Lib.ForgetCalls();
    File->CloseFile();
    EXPECT_TRUE(Lib.Calls().empty());
}

TEST_F(KXFileTest, FirstPictureSizeWithinLimitsFixesTheSize) {
    Open();
    ASSERT_TRUE(Lib.Picture(1920, 1080, 1));
    int32_t w = 0, h = 0;
    EXPECT_TRUE(File->GetVideoSize(&w, &h));
    EXPECT_EQ(w, 1920);
    EXPECT_EQ(h, 1080);
    EXPECT_EQ(File->QueuedPictureCount(), 1);
    EXPECT_EQ(File->State().PictureBytes, 1920 * 1080 * 2);
}

TEST_F(KXFileTest, OversizedOrEmptyFirstPictureLeavesSizeUnknown) {
    const int32_t sizes[][2] = {{4097, 2160}, {4096, 2161}, {0, 576}, {704, 0}};
    for (const auto& size : sizes) {
        File.reset(new CKXFile(Lib.Api(), ShortWaits()));
        Open();
        ASSERT_TRUE(Lib.Picture(size[0], size[1], 1, 64));
        EXPECT_EQ(File->State().PictureBytes, 0) << size[0] << "x" << size[1];
        EXPECT_EQ(File->QueuedPictureCount(), 0);
    }
    int32_t w = 7, h = 7;
    EXPECT_FALSE(File->GetVideoSize(&w, &h));
    EXPECT_EQ(w, 0);
    EXPECT_EQ(h, 0);
}

TEST_F(KXFileTest, LargeFirstPictureEndsStreamAndDropsEverything) {
    Open();
    ASSERT_TRUE(Lib.Picture(4608, 2592, 1, 64));
    EXPECT_TRUE(File->State().FileEnded);
    ASSERT_TRUE(Lib.Picture(4608, 2592, 1, 64));
    const uint8_t sound[100] = {};
    ASSERT_TRUE(Lib.Sound(sound, 100));
    EXPECT_EQ(File->QueuedPictureCount(), 0);
    EXPECT_FALSE(File->State().AudioStarted);
}

TEST_F(KXFileTest, ChangeInOneDimensionIsQueuedInBothEndsTheStream) {
    Open();
    ASSERT_TRUE(Lib.Picture(704, 576, 1));
    ASSERT_TRUE(Lib.Picture(704, 288, 2));
    EXPECT_EQ(File->QueuedPictureCount(), 2);
    EXPECT_FALSE(File->State().FileEnded);
    ASSERT_TRUE(Lib.Picture(352, 288, 3));
    EXPECT_EQ(File->QueuedPictureCount(), 2);
    EXPECT_TRUE(File->State().FileEnded);
    std::vector<uint8_t> sink(704 * 576 * 2);
    EXPECT_TRUE(File->ReadVideoFrame(sink.data(), static_cast<int32_t>(sink.size())));
    EXPECT_TRUE(File->ReadVideoFrame(sink.data(), 704 * 288 * 2)) << "queued with its own length";
}

TEST_F(KXFileTest, PicturesTooLongOrEmptyAreDropped) {
    Open();
    ASSERT_TRUE(Lib.Picture(16, 8, 1));
    ASSERT_TRUE(Lib.Picture(16, 8, 2, 16 * 8 * 2 + 1));
    ASSERT_TRUE(Lib.Picture(16, 8, 3, 0));
    EXPECT_EQ(File->QueuedPictureCount(), 1);
}

TEST_F(KXFileTest, SoundBeforeTheFirstPictureIsDropped) {
    Open();
    const uint8_t sound[800] = {};
    ASSERT_TRUE(Lib.Sound(sound, 800));
    EXPECT_FALSE(File->State().AudioStarted);
    Pictures(1);
    ASSERT_TRUE(Lib.Sound(sound, 800));
    EXPECT_EQ(File->State().SoundBytes, 800u);
    File->FlushBuffers();
    ASSERT_TRUE(Lib.Sound(sound, 800));
    EXPECT_EQ(File->State().SoundBytes, 0u) << "sound after a flush waits for a picture";
    Pictures(1);
    ASSERT_TRUE(Lib.Sound(sound, 800));
    EXPECT_EQ(File->State().SoundBytes, 800u);
}

TEST_F(KXFileTest, FiftiethPicturePausesOnce) {
    Open();
    Pictures(49);
    EXPECT_EQ(Lib.CountOf("Pause"), 0);
    Pictures(1);
    EXPECT_EQ(Lib.CountOf("Pause"), 1);
    EXPECT_TRUE(File->State().Paused);
    EXPECT_FALSE(File->State().Playing);
    Pictures(5);
    EXPECT_EQ(Lib.CountOf("Pause"), 1);
}

TEST_F(KXFileTest, ReadThatLeaves34Resumes) {
    Open();
    Pictures(52);
    while (File->QueuedPictureCount() > 35) ASSERT_TRUE(ReadOne());
    EXPECT_EQ(Lib.CountOf("Play:0"), 0);
    ASSERT_TRUE(ReadOne());
    EXPECT_EQ(File->QueuedPictureCount(), 34);
    EXPECT_EQ(Lib.Calls(), Join({{"Pause"}, StartSequence}));
    ASSERT_TRUE(ReadOne());
    EXPECT_EQ(Lib.CountOf("Play:0"), 1);
}

TEST_F(KXFileTest, ReadsNeverResumeAfterTheEnd) {
    Open();
    Pictures(50);
    Notice(KX_MSG_FILE_END, [&] { return File->State().FileEnded; });
    while (ReadOne()) {
    }
    EXPECT_EQ(Lib.CountOf("Play:0"), 0);
    EXPECT_TRUE(File->State().VideoDrained);
}

TEST_F(KXFileTest, EmptyOrTooSmallReadsKeepThePicture) {
    Open();
    std::vector<uint8_t> sink(256);
    EXPECT_FALSE(File->ReadVideoFrame(sink.data(), 256));
    EXPECT_TRUE(File->State().VideoDrained);
    Pictures(1);
    EXPECT_FALSE(File->ReadVideoFrame(sink.data(), 255));
    EXPECT_EQ(File->QueuedPictureCount(), 1);
    EXPECT_TRUE(File->ReadVideoFrame(sink.data(), 256));
}

TEST_F(KXFileTest, NarrowPictureIsCopiedRowByRowIntoWiderRows) {
    Open();
    std::vector<uint8_t> picture(704 * 576 * 2);
    for (size_t i = 0; i < picture.size(); ++i) picture[i] = static_cast<uint8_t>(i / 1408 + i % 5);
    ASSERT_TRUE(Lib.Deliver(KX_FRAME_YUY2, 704, 576, picture.data(), static_cast<long>(picture.size())));
    File->SetDestinationStride(720);
    const int32_t needed = 575 * 1440 + 1408;
    std::vector<uint8_t> out(needed, 0xEE);
    EXPECT_FALSE(File->ReadVideoFrame(out.data(), needed - 1));
    EXPECT_EQ(File->QueuedPictureCount(), 1);
    ASSERT_TRUE(File->ReadVideoFrame(out.data(), needed));
    for (int row = 0; row < 576; ++row) {
        ASSERT_TRUE(std::equal(picture.begin() + row * 1408, picture.begin() + (row + 1) * 1408,
                               out.begin() + row * 1440))
            << "row " << row;
        if (row < 575) {
            ASSERT_EQ(out[row * 1440 + 1408], 0xEE) << "padding of row " << row << " written";
        }
    }
    File->SetDestinationStride(704);
    ASSERT_TRUE(Lib.Deliver(KX_FRAME_YUY2, 704, 576, picture.data(), static_cast<long>(picture.size())));
    std::vector<uint8_t> block(picture.size());
    ASSERT_TRUE(File->ReadVideoFrame(block.data(), static_cast<int32_t>(block.size())));
    EXPECT_EQ(block, picture);
}

TEST_F(KXFileTest, ShorterPictureFillsOnlyItsOwnRowsOfWiderRows) {
    Open();
    ASSERT_TRUE(Lib.Picture(704, 576, 1));
    ASSERT_TRUE(Lib.Picture(704, 288, 2));
    File->SetDestinationStride(720);
    std::vector<uint8_t> out(720 * 576 * 2);
    ASSERT_TRUE(File->ReadVideoFrame(out.data(), static_cast<int32_t>(out.size())));
    std::fill(out.begin(), out.end(), 0xEE);
    ASSERT_TRUE(File->ReadVideoFrame(out.data(), static_cast<int32_t>(out.size())));
    EXPECT_EQ(out[287 * 1440 + 1407], 2);
    EXPECT_EQ(out[288 * 1440], 0xEE) << "rows below the picture were filled from an older picture";
}

TEST_F(KXFileTest, NarrowerDestinationRowsAreRefused) {
    Open();
    Pictures(1, 16, 8);
    File->SetDestinationStride(8);
    std::vector<uint8_t> out(4096);
    EXPECT_FALSE(File->ReadVideoFrame(out.data(), 4096));
    EXPECT_EQ(File->QueuedPictureCount(), 1);
}

TEST_F(KXFileTest, AudioEndNeedsAWholeSample) {
    Open();
    Pictures(1);
    std::vector<uint8_t> sound(1599, 7);
    ASSERT_TRUE(Lib.Sound(sound.data(), 1599));
    Notice(KX_MSG_FILE_END, [&] { return File->State().FileEnded; });
    std::vector<uint8_t> out(800);
    EXPECT_TRUE(File->ReadAudio(out.data(), 800)) << "800 of 1599 bytes";
    EXPECT_FALSE(File->State().AudioFinished);
    EXPECT_FALSE(File->ReadAudio(out.data(), 800)) << "799 bytes left";
    EXPECT_TRUE(File->State().AudioFinished);
}

TEST_F(KXFileTest, AudioBeforeAnySoundEndsOnlyAfterPreroll) {
    Open();
    std::vector<uint8_t> out(800);
    Pictures(39);
    EXPECT_FALSE(File->ReadAudio(out.data(), 800));
    EXPECT_FALSE(File->State().AudioFinished);
    Pictures(1);
    EXPECT_TRUE(File->State().PrerollReached);
    EXPECT_FALSE(File->ReadAudio(out.data(), 800));
    EXPECT_TRUE(File->State().AudioFinished);
}

TEST_F(KXFileTest, ShortAudioReadTakesNothing) {
    Open();
    Pictures(1);
    std::vector<uint8_t> sound(500, 9);
    ASSERT_TRUE(Lib.Sound(sound.data(), 500));
    std::vector<uint8_t> out(800);
    EXPECT_FALSE(File->ReadAudio(out.data(), 800));
    EXPECT_EQ(File->State().SoundBytes, 500u);
    EXPECT_FALSE(File->State().AudioFinished);
}

TEST_F(KXFileTest, FlushWithNothingReceivedChangesNoFlag) {
    Open();
    Pictures(1);
    File->FlushBuffers();
    EXPECT_EQ(File->QueuedPictureCount(), 0);
    EXPECT_FALSE(ReadOne());
    ASSERT_TRUE(File->State().VideoDrained);
    File->FlushBuffers();
    EXPECT_TRUE(File->State().VideoDrained);
}

TEST_F(KXFileTest, FlushReturnsQueuedBuffersToThePool) {
    Open();
    Pictures(10);
    File->FlushBuffers();
    File->ResumeDecoding();
    CFramePool::LimitNewBuffers(0);
    Pictures(10);
    CFramePool::LimitNewBuffers(-1);
    EXPECT_EQ(File->QueuedPictureCount(), 10) << "the pool kept the flushed buffers";
    File->FlushBuffers();
    EXPECT_FALSE(File->State().Paused);
    EXPECT_FALSE(File->State().PrerollReached);
}

TEST_F(KXFileTest, SeekBeforeTheDurationIsKnownOrAtItTouchesNothing) {
    Open();
    EXPECT_FALSE(File->SeekTo(0));
    Lib.SetInfo(100, 4000);
    ASSERT_TRUE(Lib.Post(KX_MSG_FILE_INFO));
    ASSERT_EQ(File->GetDurationMs(), 4000u);
    Lib.ForgetCalls();
    EXPECT_FALSE(File->SeekTo(4000));
    EXPECT_FALSE(File->SeekTo(0xFFFFFFFFu));
    EXPECT_TRUE(Lib.Calls().empty());
}

TEST_F(KXFileTest, SeekWhilePlayingPausesFlushesRepositionsAndStarts) {
    Open();
    Lib.SetInfo(100, 4000);
    ASSERT_TRUE(Lib.Post(KX_MSG_FILE_INFO));
    ASSERT_EQ(File->GetDurationMs(), 4000u);
    Pictures(5);
    Lib.ForgetCalls();
    EXPECT_TRUE(File->SeekTo(3999));
    EXPECT_EQ(Lib.Calls(), Join({{"RemoveCallback:0,0", "Pause", "SetCallback:0,258", "SetPlayedTimeEx:3999"},
                                 StartSequence}));
    EXPECT_EQ(File->QueuedPictureCount(), 0);
    EXPECT_TRUE(File->State().Playing);
}

TEST_F(KXFileTest, SeekAfterAnEndWithNothingDecodedStartsAFreshSegment) {
    Open();
    Lib.SetInfo(100, 4000);
    ASSERT_TRUE(Lib.Post(KX_MSG_FILE_INFO));
    ASSERT_EQ(File->GetDurationMs(), 4000u);
    Pictures(5);
    ASSERT_TRUE(File->SeekTo(3990));
    Notice(KX_MSG_FILE_END, [&] { return File->State().FileEnded; });
    ASSERT_TRUE(File->State().PrerollReached);
    ASSERT_TRUE(File->SeekTo(1000));
    EXPECT_FALSE(File->State().FileEnded) << "the old position's end ended the new segment";
    EXPECT_FALSE(File->State().PrerollReached) << "the new position's preroll counted as reached";
    EXPECT_TRUE(File->AwaitPictures(nullptr));
}

TEST_F(KXFileTest, EndNoticePostedBeforeASeekDoesNotEndTheNewSegment) {
    Open();
    Lib.SetInfo(100, 4000);
    ASSERT_TRUE(Lib.Post(KX_MSG_FILE_INFO));
    ASSERT_EQ(File->GetDurationMs(), 4000u);
    Pictures(5);
    // The message thread is held in an information notice while the old
    // position's end notice waits behind it and the seek goes through.
    UniqueEvent inside(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    UniqueEvent release(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    Lib.DuringNextInfo([&] {
        SetEvent(inside.get());
        WaitForSingleObject(release.get(), 10000);
    });
    ASSERT_TRUE(Lib.Post(KX_MSG_FILE_INFO));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(inside.get(), 5000)) << "information notice not handled";
    ASSERT_TRUE(Lib.Post(KX_MSG_FILE_END));
    const bool sought = File->SeekTo(1000);
    SetEvent(release.get());
    ASSERT_TRUE(sought);
    // A notice behind the end notice shows the thread is past it.
    UniqueEvent past(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    Lib.DuringNextInfo([&] { SetEvent(past.get()); });
    ASSERT_TRUE(Lib.Post(KX_MSG_FILE_INFO));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(past.get(), 5000)) << "information notice not handled";
    EXPECT_FALSE(File->State().FileEnded) << "the old position's end notice ended the new segment";
    EXPECT_TRUE(File->AwaitPictures(nullptr));
    // The new segment's own end notice still ends it.
    Notice(KX_MSG_FILE_END, [&] { return File->State().FileEnded; });
}

TEST_F(KXFileTest, SeekFromStoppedStartsBeforePausing) {
    Open();
    Lib.SetInfo(100, 4000);
    ASSERT_TRUE(Lib.Post(KX_MSG_FILE_INFO));
    ASSERT_EQ(File->GetDurationMs(), 4000u);
    File->StopDecoding();
    File->StopDecoding();
    EXPECT_EQ(Lib.CountOf("Stop"), 1);
    Lib.ForgetCalls();
    EXPECT_TRUE(File->SeekTo(1000));
    EXPECT_EQ(Lib.Calls(), Join({{"RemoveCallback:0,0"}, StartSequence,
                                 {"Pause", "SetCallback:0,258", "SetPlayedTimeEx:1000"}, StartSequence}));
}

TEST_F(KXFileTest, SeekWhilePausedByFlowControlDoesNotPauseAgain) {
    Open();
    Lib.SetInfo(100, 4000);
    ASSERT_TRUE(Lib.Post(KX_MSG_FILE_INFO));
    ASSERT_EQ(File->GetDurationMs(), 4000u);
    Pictures(50);
    Lib.ForgetCalls();
    EXPECT_TRUE(File->SeekTo(10));
    EXPECT_EQ(Lib.Calls(), Join({{"RemoveCallback:0,0", "SetCallback:0,258", "SetPlayedTimeEx:10"},
                                 StartSequence}));
}

TEST_F(KXFileTest, RefusedRepositionLeavesDecodingPausedAndEmpty) {
    Open();
    Lib.SetInfo(100, 4000);
    ASSERT_TRUE(Lib.Post(KX_MSG_FILE_INFO));
    ASSERT_EQ(File->GetDurationMs(), 4000u);
    Pictures(3);
    Lib.SetAnswers(TRUE, TRUE, FALSE);
    Lib.ForgetCalls();
    EXPECT_FALSE(File->SeekTo(10));
    EXPECT_EQ(Lib.Calls(), (Calls{"RemoveCallback:0,0", "Pause", "SetCallback:0,258", "SetPlayedTimeEx:10"}));
    EXPECT_EQ(File->QueuedPictureCount(), 0);
    EXPECT_FALSE(File->State().Playing);
    EXPECT_TRUE(File->State().FileEnded) << "the streams would wait for data that cannot come";
}

TEST_F(KXFileTest, BufferDepthFollowsTheBudgetAndKeepsThePrerollBelowThePause) {
    const int64_t budget = 64ll << 20;
    const struct {
        int32_t width, height, kept, high, low, preroll;
    } cases[] = {{352, 288, 53, 50, 35, 40},   {704, 576, 53, 50, 35, 40},  {1280, 720, 36, 33, 23, 26},
                 {1920, 1080, 16, 15, 10, 12}, {3840, 2160, 4, 3, 2, 2},    {4096, 2160, 4, 3, 2, 2}};
    for (const auto& c : cases) {
        const CPictureBudget::Depth d = CPictureBudget::DepthFor(int64_t{c.width} * c.height * 2, budget);
        EXPECT_EQ(c.kept, d.Kept) << c.width << "x" << c.height;
        EXPECT_EQ(c.high, d.High) << c.width << "x" << c.height;
        EXPECT_EQ(c.low, d.Low) << c.width << "x" << c.height;
        EXPECT_EQ(c.preroll, d.Preroll) << c.width << "x" << c.height;
        EXPECT_LT(d.Preroll, d.High);
    }
    EXPECT_EQ(53, CPictureBudget::DepthFor(1920 * 1080 * 2, 256ll << 20).Kept) << "a raised budget restores the depth";

    // A budget in the user's registry is read at each open; a bad one is ignored.
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\KXVD\\KXVDSrc", 0, nullptr, 0,
                                             KEY_SET_VALUE | KEY_QUERY_VALUE, nullptr, &key, nullptr));
    const DWORD values[] = {8, 0};
    const int32_t expected[] = {3, 15};  // pictures queued when decoding pauses
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key, L"PictureBudgetMB", 0, REG_DWORD,
                                                reinterpret_cast<const BYTE*>(&values[i]), sizeof(DWORD)));
        File.reset(new CKXFile(Lib.Api(), ShortWaits()));
        Open();
        Pictures(expected[i] - 1, 1920, 1080);
        EXPECT_EQ(Lib.CountOf("Pause"), 0) << values[i] << " MB";
        Pictures(1, 1920, 1080);
        EXPECT_EQ(Lib.CountOf("Pause"), 1) << values[i] << " MB";
    }
    RegDeleteValueW(key, L"PictureBudgetMB");
    RegCloseKey(key);
}

TEST_F(KXFileTest, PoolThatCannotGrowHoldsDecodingAndEmptyOneReportsOutOfMemory) {
    Open();
    CFramePool::LimitNewBuffers(2);
    Pictures(2);
    // The third picture waits inside the callback for a read to give a buffer back.
    std::thread decoding([&] { Pictures(1); });
    ASSERT_TRUE(WaitUntil(File->PictureEvent(), [&] { return Lib.CountOf("Pause") > 0; }, 5000))
        << "a picture the pool could not take did not hold decoding";
    EXPECT_TRUE(ReadOne());
    decoding.join();
    EXPECT_EQ(File->QueuedPictureCount(), 2) << "the held picture was lost";
    EXPECT_FALSE(File->State().OutOfMemory);

    // With nothing queued no buffer can come back: the stream is told.
    File.reset(new CKXFile(Lib.Api(), ShortWaits()));
    Open();
    CFramePool::LimitNewBuffers(0);
    Pictures(1);
    CFramePool::LimitNewBuffers(-1);
    EXPECT_EQ(File->QueuedPictureCount(), 0);
    EXPECT_TRUE(File->State().OutOfMemory);
    File->FlushBuffers();
    EXPECT_FALSE(File->State().OutOfMemory) << "a seek tries again";
}

// The filter stops decoding before its pins stop their workers; a worker's
// read or wait in between must not start the library again.
TEST_F(KXFileTest, NoReadOrWaitRestartsDecodingAfterStop) {
    Open();
    Pictures(50);
    const uint8_t sound[800] = {};
    ASSERT_TRUE(Lib.Sound(sound, 800));
    ASSERT_TRUE(File->State().Paused);
    File->StopDecoding();
    Lib.ForgetCalls();
    while (ReadOne()) {
    }
    std::vector<uint8_t> sink(800);
    EXPECT_TRUE(File->ReadAudio(sink.data(), 800));
    EXPECT_FALSE(File->AwaitPictures(nullptr));
    EXPECT_FALSE(File->AwaitSound(nullptr));
    EXPECT_EQ(Lib.CountOf("Play:0"), 0) << "decoding restarted after the filter stopped it";
    EXPECT_TRUE(File->State().Stopped);
    // A worker's start, or a seek, starts decoding again.
    EXPECT_TRUE(File->ResumeDecoding());
    EXPECT_EQ(Lib.CountOf("Play:0"), 1);
    EXPECT_FALSE(File->State().Stopped);
}

// A library's Stop and its removal of the callback may wait for a callback in
// progress to return: a decoding thread held inside it is let go first.
TEST_F(KXFileTest, StopAndSeekLetAHeldDecodingThreadGoBeforeTheLibraryWaitsForIt) {
    for (int round = 0; round < 2; ++round) {
        const bool seek = round == 1;
        File.reset(new CKXFile(Lib.Api(), ShortWaits()));
        Open();
        Lib.SetInfo(100, 4000);
        ASSERT_TRUE(Lib.Post(KX_MSG_FILE_INFO));
        ASSERT_EQ(File->GetDurationMs(), 4000u);
        CFramePool::LimitNewBuffers(2);
        Pictures(2);
        UniqueEvent left(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        std::thread decoding;
        auto deliverHeld = [&] {
            decoding = std::thread([&] {
                Lib.Picture(16, 8, 3);
                SetEvent(left.get());
            });
        };
        bool leftInTime = false;
        auto libraryWaits = [&] { leftInTime = WaitForSingleObject(left.get(), 5000) == WAIT_OBJECT_0; };
        if (seek) {
            // The hold begins after the seek has started, inside the removal
            // of the callback.
            Lib.DuringNextRemoval([&] {
                deliverHeld();
                libraryWaits();
            });
            EXPECT_TRUE(File->SeekTo(1000));
        } else {
            deliverHeld();
            ASSERT_TRUE(WaitUntil(File->PictureEvent(), [&] { return Lib.CountOf("Pause") > 0; }, 5000))
                << "a picture the pool could not take did not hold decoding";
            // Signalled just before the hold begins.
            ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(File->SoundEvent(), 5000));
            Lib.DuringNextStop(libraryWaits);
            File->StopDecoding();
        }
        CFramePool::LimitNewBuffers(-1);
        const bool gone = WaitForSingleObject(left.get(), 10000) == WAIT_OBJECT_0;
        if (!gone) File->CloseFile();
        decoding.join();
        EXPECT_TRUE(gone) << "the decoding thread stayed held";
        EXPECT_TRUE(leftInTime) << (seek ? "seek" : "stop")
                                << ": the library waited for a decoding thread that the file still held";
    }
}

TEST_F(KXFileTest, VideoSizeWaitTimesOutThenAnswersAtOnce) {
    Open();
    int32_t w = 1, h = 1;
    EXPECT_FALSE(File->GetVideoSize(&w, &h));
    EXPECT_EQ(w, 0);
    EXPECT_FALSE(File->GetVideoSize(nullptr, &h));
    Pictures(1, 32, 16);
    EXPECT_TRUE(File->GetVideoSize(&w, &h));
    EXPECT_EQ(w, 32);
    EXPECT_EQ(h, 16);
    EXPECT_TRUE(File->GetVideoSize(&w, &h)) << "the fast path needs no signal";
}

TEST_F(KXFileTest, VideoSizeWaitEndsWhenThePictureArrives) {
    CKXFile::WaitLimits longWait = ShortWaits();
    longWait.SizeMs = 30000;
    File.reset(new CKXFile(Lib.Api(), longWait));
    Open();
    std::thread decoder([&] { Lib.Picture(32, 16, 1); });
    int32_t w = 0, h = 0;
    EXPECT_TRUE(File->GetVideoSize(&w, &h));
    decoder.join();
    EXPECT_EQ(w, 32);
}

TEST_F(KXFileTest, WithoutTheNoticeTheLibraryIsAskedOnceAfterOneWait) {
    Open();
    Lib.SetInfo(100, 4000);
    EXPECT_EQ(File->GetDurationMs(), 4000u) << "the library's own answer after the wait";
    EXPECT_EQ(File->GetFrameRate(), 25);
    EXPECT_EQ(File->GetPicturePeriod(), 400000.0);
    EXPECT_EQ(Lib.Calls(), (Calls{"TotalFrames", "Duration"})) << "asked once, for all the getters";
    Lib.ForgetCalls();
    File->CloseFile();
    ASSERT_TRUE(File->OpenFile(L"C:\\b.kx"));
    EXPECT_EQ(File->GetDurationMs(), 4000u);
    EXPECT_EQ(Lib.CountOf("Duration"), 1) << "each open waits and asks afresh";
}

TEST_F(KXFileTest, FrameRateIsWholeAndLimitedThePeriodExact) {
    const struct {
        LONG frames;
        DWORD ms;
        int32_t rate;
        double period;
    } cases[] = {{7500, 300000, 25, 400000},    {90000, 1800000, 30, 200000}, {100, 200000, 25, 20000000},
                 {2000, 200000, 10, 1000000},   {0, 200000, 25, 400000},      {600, 20000, 30, 1e7 / 30},
                 {250, 20000, 12, 800000},      {150, 19999, 7, 1333266.67},  {5000, 1000, 30, 1e7 / 30}};
    for (const auto& c : cases) {
        File.reset(new CKXFile(Lib.Api(), ShortWaits()));
        Open();
        Lib.SetInfo(c.frames, c.ms);
        ASSERT_TRUE(Lib.Post(KX_MSG_FILE_INFO));
        EXPECT_EQ(File->GetFrameRate(), c.rate) << c.frames << " frames in " << c.ms << " ms";
        EXPECT_NEAR(File->GetPicturePeriod(), c.period, 0.01) << c.frames << " frames in " << c.ms << " ms";
    }
}

TEST_F(KXFileTest, FrameRateWithoutInformationIsTheDefault) {
    Open();
    EXPECT_EQ(File->GetFrameRate(), 25);
    EXPECT_EQ(File->GetPicturePeriod(), 400000.0);
}

TEST_F(KXFileTest, EventsWakeTheStreamsOnlyWhenTheyFoundNothing) {
    const auto signalled = [](HANDLE event) { return WaitForSingleObject(event, 0) == WAIT_OBJECT_0; };
    Open();
    signalled(File->PictureEvent());
    signalled(File->SoundEvent());
    Pictures(1);
    EXPECT_TRUE(signalled(File->PictureEvent())) << "the first picture is awaited";
    Pictures(1);
    EXPECT_FALSE(signalled(File->PictureEvent())) << "nobody has looked since: nobody waits";
    ASSERT_TRUE(ReadOne());
    ASSERT_TRUE(ReadOne());
    MediaFileState state;
    EXPECT_TRUE(File->AwaitPictures(&state));
    EXPECT_EQ(state.QueuedPictures, 0);
    Pictures(1);
    EXPECT_TRUE(signalled(File->PictureEvent())) << "the reader found the queue empty";
    ASSERT_TRUE(ReadOne());
    EXPECT_FALSE(ReadOne());
    Pictures(1);
    EXPECT_TRUE(signalled(File->PictureEvent())) << "a read found no picture";

    signalled(File->SoundEvent());
    const uint8_t sound[400] = {};
    uint8_t sample[800];
    EXPECT_FALSE(File->ReadAudio(sample, 800));
    ASSERT_TRUE(Lib.Sound(sound, 400));
    EXPECT_FALSE(signalled(File->SoundEvent())) << "less than the read wanted";
    ASSERT_TRUE(Lib.Sound(sound, 400));
    EXPECT_TRUE(signalled(File->SoundEvent())) << "what the read wanted is there";
    ASSERT_TRUE(Lib.Sound(sound, 400));
    ASSERT_TRUE(Lib.Sound(sound, 400));
    EXPECT_FALSE(signalled(File->SoundEvent())) << "nobody has looked since";
    EXPECT_TRUE(File->ReadAudio(sample, 800));
    EXPECT_TRUE(File->ReadAudio(sample, 800));
    ASSERT_TRUE(Lib.Sound(sound, 400));
    EXPECT_FALSE(File->ReadAudio(sample, 800));
    ASSERT_TRUE(Lib.Sound(sound, 400));
    EXPECT_TRUE(signalled(File->SoundEvent())) << "the reader found too little";

    File->FlushBuffers();
    EXPECT_TRUE(signalled(File->PictureEvent())) << "flush";
    EXPECT_TRUE(signalled(File->SoundEvent())) << "flush";
    ASSERT_TRUE(Lib.Post(KX_MSG_FILE_END));
    EXPECT_EQ(WaitForSingleObject(File->SoundEvent(), 5000), WAIT_OBJECT_0) << "end of file";
    EXPECT_TRUE(File->State().FileEnded) << "the flag is set before the signal";
    EXPECT_TRUE(File->State().PrerollReached) << "nothing more comes, so the preroll is complete";
}

// The state is a snapshot: a look neither lifts a pause nor arms the picture
// event; the video worker's AwaitPictures, before it waits, does both.
TEST_F(KXFileTest, StateOnlyLooksAwaitPicturesPreparesTheWait) {
    const auto signalled = [](HANDLE event) { return WaitForSingleObject(event, 0) == WAIT_OBJECT_0; };
    Open();
    Pictures(1);
    ASSERT_TRUE(ReadOne());
    signalled(File->PictureEvent());
    ASSERT_TRUE(File->PauseDecoding());
    Lib.ForgetCalls();
    for (int i = 0; i < 3; ++i) {
        const MediaFileState state = File->State();
        EXPECT_EQ(state.QueuedPictures, 0);
        EXPECT_TRUE(state.Paused);
        EXPECT_EQ(File->QueuedPictureCount(), 0);
    }
    EXPECT_TRUE(Lib.Calls().empty()) << "a look at the state called the library";
    Pictures(1);
    EXPECT_FALSE(signalled(File->PictureEvent())) << "a look at the state or the count armed the picture event";
    ASSERT_TRUE(ReadOne());
    ASSERT_TRUE(File->PauseDecoding());
    Lib.ForgetCalls();
    EXPECT_TRUE(File->AwaitPictures(nullptr));
    EXPECT_EQ(Lib.Calls(), StartSequence) << "the pause no read lifts";
    Pictures(1);
    EXPECT_TRUE(signalled(File->PictureEvent())) << "the worker about to wait was not woken";
}

TEST_F(KXFileTest, EmptyPausedQueueResumesWhenAskedWhetherPicturesCanCome) {
    Open();
    EXPECT_TRUE(File->AwaitPictures(nullptr));
    EXPECT_TRUE(File->PauseDecoding());
    Lib.ForgetCalls();
    EXPECT_TRUE(File->AwaitPictures(nullptr));
    EXPECT_EQ(Lib.Calls(), StartSequence);
    File->StopDecoding();
    EXPECT_FALSE(File->AwaitPictures(nullptr));
    File->ResumeDecoding();
    Pictures(1);
    Notice(KX_MSG_FILE_END, [&] { return File->State().FileEnded; });
    EXPECT_TRUE(File->AwaitPictures(nullptr)) << "one is still queued";
    ASSERT_TRUE(ReadOne());
    EXPECT_FALSE(File->AwaitPictures(nullptr));
}

namespace {

// Whether the library was last told to pause rather than to play.
bool LibraryLastPaused(CFakePlayLibrary& lib) {
    const Calls calls = lib.Calls();
    for (auto it = calls.rbegin(); it != calls.rend(); ++it) {
        if (*it == "Pause") return true;
        if (*it == "Play:0") return false;
    }
    return false;
}

}  // namespace

// A library may decode up to the high-water mark before Play has returned.
// The back-pressure pause that this provokes must never be overwritten by the
// resume still in progress: flags saying "playing" over a paused library
// leave the streams waiting for pictures that never come.
TEST_F(KXFileTest, PauseReachedInsidePlayIsNotUndoneByTheResume) {
    Open();
    Lib.DuringNextPlay([&] { Pictures(50); });
    ASSERT_TRUE(File->OpenFile(L"C:\\b.kx"));
    EXPECT_EQ(1, Lib.CountOf("Pause"));
    EXPECT_TRUE(LibraryLastPaused(Lib));
    EXPECT_TRUE(File->State().Paused);
    EXPECT_FALSE(File->State().Playing);
}

TEST_F(KXFileTest, DecodingThreadPausingDuringAnotherThreadsResumeKeepsTheFlagsTrue) {
    Open();
    Lib.DuringNextPlay([&] {
        std::thread decoding([&] { Pictures(51); });
        decoding.join();
    });
    ASSERT_TRUE(File->OpenFile(L"C:\\b.kx"));
    EXPECT_EQ(LibraryLastPaused(Lib), File->State().Paused);
    EXPECT_NE(LibraryLastPaused(Lib), File->State().Playing);
    Pictures(1);
    EXPECT_TRUE(LibraryLastPaused(Lib)) << "the next picture past the mark pauses";
    EXPECT_TRUE(File->State().Paused);
    EXPECT_FALSE(File->State().Playing);
}

// The sound event set only once the ring holds a read's worth took away the
// system call the decoding thread made for every piece of sound, and with it
// what had slowed the thread down enough: a back-pressure pause that found
// the control lock taken (a worker resuming, descheduled inside the
// library's Play) was left to the holder and lost when the holder had looked
// already, so the thread ran on past the high water and, before a sound
// reader had started, past the ring. The thread is now held until the
// holder has made the pause.
TEST_F(KXFileTest, PauseWantedWhileTheControlLockIsHeldLosesNoSound) {
    CKXFile::WaitLimits waits = ShortWaits();
    waits.PauseHoldMs = 30000;
    File.reset(new CKXFile(Lib.Api(), waits));
    Open();
    ASSERT_TRUE(File->PauseDecoding());
    const std::vector<uint8_t> sound(800, 3);
    UniqueEvent atMark(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    UniqueEvent done(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    int delivered = 0;
    bool ranOn = false;
    std::thread decoding;
    // A library that pauses from within its callback delivers nothing more
    // once paused; without a reader the ring takes 79 pieces.
    Lib.DuringNextPlay([&] {
        decoding = std::thread([&] {
            Pictures(49);
            SetEvent(atMark.get());
            Pictures(1);
            for (; delivered < 100 && Lib.CountOf("Pause") < 2; ++delivered) Lib.Sound(sound.data(), 800);
            SetEvent(done.get());
        });
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(atMark.get(), 10000)) << "pictures not delivered";
        // The resumer holds the lock meanwhile, as one descheduled would.
        ranOn = WaitForSingleObject(done.get(), 300) == WAIT_OBJECT_0;
    });
    EXPECT_TRUE(File->ResumeDecoding());
    const bool finished = WaitForSingleObject(done.get(), 10000) == WAIT_OBJECT_0;
    if (!finished) File->StopDecoding();
    decoding.join();
    ASSERT_TRUE(finished) << "the decoding thread stayed held after the holder let go";
    EXPECT_FALSE(ranOn) << "decoding ran on past the high water while the lock was held";
    EXPECT_EQ(Lib.CountOf("Pause"), 2);
    EXPECT_EQ(File->State().SoundBytes, static_cast<uint32_t>(delivered) * 800) << "sound lost";
}

TEST(KXFileObjects, SeveralObjectsWorkAtOnceAndOutliveEachOther) {
    CFakePlayLibrary lib;
    std::unique_ptr<CKXFile> first(new CKXFile(lib.Api()));
    ASSERT_TRUE(first->OpenFile(L"C:\\a.kx"));
    const HWND firstWindow = lib.Window();
    std::unique_ptr<CKXFile> second(new CKXFile(lib.Api()));
    ASSERT_TRUE(second->OpenFile(L"C:\\b.kx"));
    EXPECT_NE(lib.Window(), firstWindow);
    first.reset();
    ASSERT_TRUE(lib.Post(KX_MSG_FILE_END)) << "the second window survives the first object";
    EXPECT_TRUE(WaitUntil(second->PictureEvent(), [&] { return second->State().FileEnded; }, 5000));
    CKXFile third(lib.Api());
    EXPECT_TRUE(third.OpenFile(L"C:\\c.kx")) << "the class stays usable after an object ended";
}

TEST(KXFileObjects, CreateOpenDestroyRepeatedlyNeverHangs) {
    CFakePlayLibrary lib;
    RunBounded(
        [&] {
            for (int i = 0; i < 300; ++i) {
                CKXFile file(lib.Api());
                if (i % 3 == 0) continue;
                lib.RefuseOpen(i % 3 == 1);
                file.OpenFile(L"C:\\a.kx");
            }
            std::vector<std::unique_ptr<CKXFile>> many;
            for (int i = 0; i < 8; ++i) {
                many.emplace_back(new CKXFile(lib.Api()));
                lib.RefuseOpen(false);
                EXPECT_TRUE(many.back()->OpenFile(L"C:\\a.kx")) << "object " << i;
            }
        },
        60000, "creating, opening and destroying file objects");
}

TEST(KXFileObjects, PicturesArriveWholeAndInOrderWhileRead) {
    CFakePlayLibrary lib;
    RunBounded(
        [&] {
            for (int round = 0; round < 300; ++round) {
                CKXFile file(lib.Api());
                ASSERT_TRUE(file.OpenFile(L"C:\\a.kx"));
                const int count = 120;
                std::thread decoder([&] {
                    for (int i = 0; i < count; ++i) lib.Picture(16, 8, static_cast<uint8_t>(i));
                });
                std::vector<uint8_t> out(256);
                for (int i = 0; i < count; ++i) {
                    // As the video worker asks before it waits.
                    const auto queued = [&] {
                        MediaFileState state;
                        file.AwaitPictures(&state);
                        return state.QueuedPictures > 0;
                    };
                    ASSERT_TRUE(WaitUntil(file.PictureEvent(), queued, 10000))
                        << "picture " << i << " of round " << round;
                    ASSERT_TRUE(file.ReadVideoFrame(out.data(), 256));
                    ASSERT_EQ(out[0], static_cast<uint8_t>(i));
                    ASSERT_EQ(out[255], static_cast<uint8_t>(i));
                }
                decoder.join();
                EXPECT_FALSE(file.State().VideoDrained);
            }
        },
        120000, "reading pictures while they are queued");
}

TEST_F(KXFileTest, FullSoundRingHoldsDecodingOnlyWhileSoundIsRead) {
    std::vector<uint8_t> sound(800, 1);
    Open();
    Pictures(1);
    // Nobody reads the sound: a full ring drops sound but never pauses.
    for (int i = 0; i < 60; ++i) ASSERT_TRUE(Lib.Sound(sound.data(), 800));
    EXPECT_EQ(Lib.CountOf("Pause"), 0);

    File->FlushBuffers();
    File->ResumeDecoding();
    File->SetSoundConsumer(true);
    Pictures(1);
    Lib.ForgetCalls();
    for (int i = 0; i < 59; ++i) ASSERT_TRUE(Lib.Sound(sound.data(), 800));
    EXPECT_EQ(Lib.CountOf("Pause"), 0) << "47200 bytes buffered";
    ASSERT_TRUE(Lib.Sound(sound.data(), 800));
    EXPECT_EQ(Lib.Calls(), Calls{"Pause"}) << "48000 bytes buffered: three seconds";

    // A picture read below the low-water mark does not resume while the sound
    // reader is behind; the sound read that leaves less than two seconds does.
    ASSERT_TRUE(ReadOne());
    EXPECT_EQ(Lib.CountOf("Play:0"), 0);
    EXPECT_TRUE(File->AwaitPictures(nullptr)) << "pictures come once the sound is read";
    EXPECT_EQ(Lib.CountOf("Play:0"), 0);
    std::vector<uint8_t> sink(800);
    for (int i = 0; i < 20; ++i) ASSERT_TRUE(File->ReadAudio(sink.data(), 800));
    EXPECT_EQ(File->State().SoundBytes, 32000u);
    EXPECT_EQ(Lib.CountOf("Play:0"), 0);
    ASSERT_TRUE(File->ReadAudio(sink.data(), 800));
    EXPECT_EQ(Lib.Calls(), Join({{"Pause"}, StartSequence}));
}
