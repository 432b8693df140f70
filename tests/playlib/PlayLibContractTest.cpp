#include "DeliveryLog.h"
#include "NoticeListener.h"
#include "StandInLibrary.h"
#include "TempFolder.h"
#include "TestRecording.h"
#include "recording/RecordingWriter.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <thread>

namespace {

constexpr DWORD NoticeWaitMs = 20000;
constexpr DWORD DeliveryWaitMs = 20000;

class PlayLib : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(Library.Loaded()) << "VUVezaVID.dll or one of its functions is missing"; }

    const KXPlayApi& Api() const { return Library.Api(); }

    // The filter's open order, then its start order.
    KXPLAYHANDLE OpenAndPlay(const std::wstring& path, CDeliveryLog& log) {
        KXPLAYHANDLE h = Api().OpenFileExW(path.c_str());
        if (h == nullptr) return nullptr;
        EXPECT_TRUE(Api().SetMsgWnd(h, Window.Handle()));
        EXPECT_TRUE(Api().SetFileEndMsg(h, Window.Handle(), KX_MSG_FILE_END));
        EXPECT_TRUE(Api().SetDecCallBackEx(h, &CDeliveryLog::Callback, &log, 0, KX_DECODE_YUY2));
        EXPECT_TRUE(Api().SetDecodeMode(h, 1));
        Start(h);
        return h;
    }

    void Start(KXPLAYHANDLE h) {
        EXPECT_TRUE(Api().SetPlayOption(h, 0, 1));
        EXPECT_TRUE(Api().SetDecodeMode(h, 1));
        EXPECT_TRUE(Api().Play(h, nullptr));
    }

    // The filter's seek order.
    void Seek(KXPLAYHANDLE h, CDeliveryLog& log, DWORD ms) {
        EXPECT_TRUE(Api().SetDecCallBackEx(h, nullptr, nullptr, 0, 0));
        EXPECT_TRUE(Api().Pause(h));
        log.Clear();
        EXPECT_TRUE(Api().SetDecCallBackEx(h, &CDeliveryLog::Callback, &log, 0, KX_DECODE_YUY2));
        EXPECT_TRUE(Api().SetPlayedTimeEx(h, ms));
        Start(h);
    }

    CStandInLibrary Library;
    CNoticeListener Window;
    CTempFolder Folder;
};

// Everything the recording held arrived once, whole, in time order.
void ExpectCompleteDelivery(const std::vector<Delivery>& items, uint32_t frames, uint32_t samples,
                            uint32_t fpsNum, uint32_t fpsDen, uint32_t width, uint32_t height) {
    uint32_t nextFrame = 0;
    uint32_t nextSample = 0;
    int32_t lastStamp = 0;
    for (const Delivery& d : items) {
        ASSERT_TRUE(d.whole) << "delivery " << (&d - items.data()) << " is not whole";
        EXPECT_GE(d.stamp, lastStamp) << "deliveries out of time order";
        lastStamp = d.stamp;
        if (d.type == KX_FRAME_YUY2) {
            ASSERT_EQ(d.frame, nextFrame);
            EXPECT_EQ(static_cast<uint32_t>(d.width), width);
            EXPECT_EQ(static_cast<uint32_t>(d.height), height);
            EXPECT_EQ(static_cast<uint32_t>(d.stamp), FrameTime(d.frame, fpsNum, fpsDen));
            ++nextFrame;
        } else {
            ASSERT_EQ(d.type, KX_FRAME_PCM);
            ASSERT_EQ(d.firstSample, nextSample);
            EXPECT_LE(d.bytes, 640);
            EXPECT_EQ(static_cast<uint32_t>(d.stamp), d.firstSample / 8);
            nextSample += static_cast<uint32_t>(d.bytes / 2);
        }
    }
    EXPECT_EQ(nextFrame, frames);
    EXPECT_EQ(nextSample, samples);
}

}  // namespace

TEST_F(PlayLib, OpenOrderGivesTotalsAfterTheNoticeAndEveryPictureAndToneBeforeTheEnd) {
    for (bool raw : {false, true}) {
        const std::wstring path = Folder.File(raw ? L"raw.kxr" : L"test.kxr");
        MakeTestRecording(path, 160, 120, 30, 1, 2000, true, raw);
        CDeliveryLog log;
        KXPLAYHANDLE h = OpenAndPlay(path, log);
        ASSERT_NE(h, nullptr);
        ASSERT_EQ(Window.Wait(KX_MSG_FILE_INFO, NoticeWaitMs), CNoticeListener::GotMessage) << "no 1178";
        EXPECT_EQ(Api().GetFileTotalFrames(h), 60);
        EXPECT_EQ(Api().GetFileTimeMilliSec(h), 2000u);
        ASSERT_EQ(Window.Wait(KX_MSG_FILE_END, NoticeWaitMs), CNoticeListener::GotMessage) << "no 1124";
        ExpectCompleteDelivery(log.Items(), 60, 16000, 30, 1, 160, 120);
        EXPECT_TRUE(Api().CloseFile(h));
        EXPECT_FALSE(Api().CloseFile(h));
    }
}

TEST_F(PlayLib, PictureSizeChangesArriveWithTheirSize) {
    const std::wstring path = Folder.File(L"sizes.kxr");
    {
        kxrec::CRecordingWriter writer;
        kxrec::RecordingSettings settings;
        settings.width = 64;
        settings.height = 48;
        ASSERT_TRUE(writer.Begin(path, settings));
        ASSERT_TRUE(writer.AddTestPicture(0, 0, 64, 48));
        ASSERT_TRUE(writer.AddTestPicture(40, 1, 320, 240));
        ASSERT_TRUE(writer.AddTestPicture(80, 2, 64, 48));
        ASSERT_TRUE(writer.Commit());
    }
    CDeliveryLog log;
    KXPLAYHANDLE h = OpenAndPlay(path, log);
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(Window.Wait(KX_MSG_FILE_END, NoticeWaitMs), CNoticeListener::GotMessage);
    const std::vector<Delivery> items = log.Items();
    ASSERT_EQ(items.size(), 3u);
    EXPECT_TRUE(items[1].whole);
    EXPECT_EQ(items[1].width, 320);
    EXPECT_EQ(items[1].height, 240);
    EXPECT_EQ(items[2].width, 64);
    EXPECT_EQ(Api().GetFileTotalFrames(h), 3);
    EXPECT_EQ(Api().GetFileTimeMilliSec(h), 120u);
    EXPECT_TRUE(Api().CloseFile(h));
}

TEST_F(PlayLib, TotalsAreUnknownUntilTheDelayedNotice) {
    const std::wstring late = Folder.File(L"late.kxr");
    MakeTestRecording(late, 64, 48, 25, 1, 1000, false, false, 600000);
    KXPLAYHANDLE h = Api().OpenFileExW(late.c_str());
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(Api().GetFileTotalFrames(h), -1);
    EXPECT_EQ(Api().GetFileTimeMilliSec(h), 0u);
    EXPECT_TRUE(Api().SetMsgWnd(h, Window.Handle()));
    EXPECT_TRUE(Api().CloseFile(h));

    const std::wstring soon = Folder.File(L"soon.kxr");
    MakeTestRecording(soon, 64, 48, 25, 1, 1000, false, false, 100);
    h = Api().OpenFileExW(soon.c_str());
    ASSERT_NE(h, nullptr);
    EXPECT_TRUE(Api().SetMsgWnd(h, Window.Handle()));
    ASSERT_EQ(Window.Wait(KX_MSG_FILE_INFO, NoticeWaitMs), CNoticeListener::GotMessage) << "no delayed 1178";
    EXPECT_EQ(Api().GetFileTotalFrames(h), 25);
    EXPECT_EQ(Api().GetFileTimeMilliSec(h), 1000u);
    EXPECT_TRUE(Api().CloseFile(h));
}

TEST_F(PlayLib, PauseOrStopFromInsideTheCallbackHoldsCallbacksUntilThenextPlay) {
    const std::wstring path = Folder.File(L"pause.kxr");
    MakeTestRecording(path, 64, 48, 25, 1, 4000, true);
    CDeliveryLog log;
    HANDLE held = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    KXPLAYHANDLE handle = nullptr;
    int holds = 0;
    log.Hook = [&](const Delivery& d) {
        if (d.type == KX_FRAME_YUY2 && d.frame % 7 == 3) {
            log.Allowed = false;
            if (d.frame % 2 == 0) {
                EXPECT_TRUE(Api().Pause(handle));
            } else {
                EXPECT_TRUE(Api().Stop(handle));
            }
            SetEvent(held);
        }
    };
    handle = Api().OpenFileExW(path.c_str());
    ASSERT_NE(handle, nullptr);
    EXPECT_TRUE(Api().SetFileEndMsg(handle, Window.Handle(), KX_MSG_FILE_END));
    EXPECT_TRUE(Api().SetDecCallBackEx(handle, &CDeliveryLog::Callback, &log, 0, KX_DECODE_YUY2));
    Start(handle);
    for (;;) {
        const CNoticeListener::WaitResult r = Window.Wait(KX_MSG_FILE_END, NoticeWaitMs, held);
        ASSERT_NE(r, CNoticeListener::TimedOut) << "neither a pause nor the end arrived";
        if (r == CNoticeListener::GotMessage) break;
        ++holds;
        // Re-registering returns only once the pausing callback has returned.
        EXPECT_TRUE(Api().SetDecCallBackEx(handle, &CDeliveryLog::Callback, &log, 0, KX_DECODE_YUY2));
        EXPECT_EQ(log.Active.load(), 0);
        log.Allowed = true;
        Start(handle);
    }
    EXPECT_EQ(holds, 14);  // frames 3, 10, ..., 94
    EXPECT_EQ(log.Violations.load(), 0) << "callbacks arrived while paused";
    ExpectCompleteDelivery(log.Items(), 100, 32000, 25, 1, 64, 48);
    EXPECT_TRUE(Api().CloseFile(handle));
    CloseHandle(held);
}

// As real decoders do: 33 ms is still picture 0 at 30 a second (picture 1,
// stored at 33 ms, starts at 33.3 ms), and 1233 ms picture 36.
TEST_F(PlayLib, SeekLandsOnThePictureHoldingTheTimeWithSoundFromThatTime) {
    const std::wstring path = Folder.File(L"seek.kxr");
    MakeTestRecording(path, 64, 48, 30, 1, 4000, true);
    CDeliveryLog log;
    KXPLAYHANDLE h = OpenAndPlay(path, log);
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(Window.Wait(KX_MSG_FILE_END, NoticeWaitMs), CNoticeListener::GotMessage);
    for (DWORD ms : {1234u, 35u, 33u, 1233u, 0u, 2001u, 3999u, 1000u}) {
        Seek(h, log, ms);
        ASSERT_TRUE(log.WaitFor(1, 2, DeliveryWaitMs)) << "nothing arrived after a seek to " << ms;
        const std::vector<Delivery> items = log.Items();
        const Delivery* picture = nullptr;
        const Delivery* sound = nullptr;
        for (const Delivery& d : items) {
            if (d.type == KX_FRAME_YUY2 && picture == nullptr) picture = &d;
            if (d.type == KX_FRAME_PCM && sound == nullptr) sound = &d;
        }
        ASSERT_TRUE(picture != nullptr && sound != nullptr);
        const uint32_t frame = ms * 30 / 1000;
        EXPECT_EQ(picture->frame, frame) << "seek to " << ms;
        EXPECT_TRUE(picture->whole);
        EXPECT_EQ(sound->firstSample, ms * 8) << "seek to " << ms;
        EXPECT_TRUE(sound->whole);
        // Each seek reaches the end, and announces it, again.
        ASSERT_EQ(Window.Wait(KX_MSG_FILE_END, NoticeWaitMs), CNoticeListener::GotMessage) << "seek to " << ms;
    }
    EXPECT_FALSE(Api().SetPlayedTimeEx(h, 4000));
    EXPECT_FALSE(Api().SetPlayedTimeEx(h, 0xFFFFFFFFu));
    EXPECT_EQ(Window.Count(KX_MSG_FILE_END), 9);
    EXPECT_TRUE(Api().CloseFile(h));
}

TEST_F(PlayLib, NoCallbackAfterRemovalOrCloseReturnsFromManyThreads) {
    const std::wstring path = Folder.File(L"long.kxr");
    MakeTestRecording(path, 64, 48, 25, 1, 120000, true);
    // Each thread its own handle: register, play from somewhere, wait for a
    // delivery, remove; at the end close while decoding runs.
    auto hammer = [&](int seed) {
        CDeliveryLog log;
        KXPLAYHANDLE h = Api().OpenFileExW(path.c_str());
        ASSERT_NE(h, nullptr);
        for (int i = 0; i < 25; ++i) {
            log.Clear();
            log.Allowed = true;
            EXPECT_TRUE(Api().SetDecCallBackEx(h, &CDeliveryLog::Callback, &log, 0, KX_DECODE_YUY2));
            EXPECT_TRUE(Api().SetPlayedTimeEx(h, static_cast<DWORD>((seed * 7919 + i * 4241) % 119000)));
            Start(h);
            ASSERT_TRUE(log.WaitFor(1, 0, DeliveryWaitMs)) << "no delivery";
            EXPECT_TRUE(Api().SetDecCallBackEx(h, nullptr, nullptr, 0, 0));
            EXPECT_EQ(log.Active.load(), 0) << "removal returned during a callback";
            log.Allowed = false;
        }
        log.Clear();
        log.Allowed = true;
        EXPECT_TRUE(Api().SetDecCallBackEx(h, &CDeliveryLog::Callback, &log, 0, KX_DECODE_YUY2));
        EXPECT_TRUE(Api().SetPlayedTimeEx(h, 0));
        ASSERT_TRUE(log.WaitFor(1, 0, DeliveryWaitMs));
        EXPECT_TRUE(Api().CloseFile(h));
        EXPECT_EQ(log.Active.load(), 0) << "close returned during a callback";
        log.Allowed = false;
        EXPECT_EQ(log.Violations.load(), 0) << "callbacks after removal or close";
    };
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) threads.emplace_back(hammer, t);
    for (std::thread& t : threads) t.join();

    // One handle, one thread swapping the callback while another plays,
    // pauses and seeks.
    CDeliveryLog shared;
    KXPLAYHANDLE h = Api().OpenFileExW(path.c_str());
    ASSERT_NE(h, nullptr);
    std::thread player([&] {
        for (int i = 0; i < 300; ++i) {
            if (i % 3 == 2) {
                EXPECT_TRUE(Api().SetPlayedTimeEx(h, static_cast<DWORD>(i * 397 % 119000)));
            }
            EXPECT_TRUE(i % 2 ? Api().Pause(h) : Api().Play(h, nullptr));
        }
        EXPECT_TRUE(Api().Play(h, nullptr));
    });
    for (int i = 0; i < 300; ++i) {
        shared.Allowed = true;
        EXPECT_TRUE(Api().SetDecCallBackEx(h, &CDeliveryLog::Callback, &shared, 0, KX_DECODE_YUY2));
        EXPECT_TRUE(Api().SetDecCallBackEx(h, nullptr, nullptr, 0, 0));
        EXPECT_EQ(shared.Active.load(), 0);
        shared.Allowed = false;
    }
    player.join();
    EXPECT_TRUE(Api().CloseFile(h));
    EXPECT_EQ(shared.Violations.load(), 0);
}

TEST_F(PlayLib, RemovalAndCloseFromInsideTheCallbackReturnAndEndCallbacks) {
    const std::wstring path = Folder.File(L"inside.kxr");
    MakeTestRecording(path, 64, 48, 25, 1, 4000, true);
    for (bool close : {false, true}) {
        CDeliveryLog log;
        HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        KXPLAYHANDLE h = nullptr;
        log.Hook = [&](const Delivery& d) {
            if (d.type == KX_FRAME_YUY2 && d.frame == 3) {
                log.ArmReturn();
                EXPECT_TRUE(close ? Api().CloseFile(h) : Api().SetDecCallBackEx(h, nullptr, nullptr, 0, 0));
                log.Allowed = false;
                SetEvent(done);
            }
        };
        h = OpenAndPlay(path, log);
        ASSERT_NE(h, nullptr);
        ASSERT_EQ(WaitForSingleObject(done, DeliveryWaitMs), WAIT_OBJECT_0) << "the call from the callback hung";
        if (close) {
            EXPECT_EQ(Api().GetFileTotalFrames(h), -1) << "a closed handle still answers";
            EXPECT_FALSE(Api().Play(h, nullptr));
        } else {
            EXPECT_TRUE(Api().Play(h, nullptr));
            EXPECT_TRUE(Api().CloseFile(h));
        }
        ASSERT_TRUE(log.WaitForReturn(DeliveryWaitMs)) << "the callback did not return";
        EXPECT_EQ(log.Violations.load(), 0);
        CloseHandle(done);
    }
}

TEST_F(PlayLib, MissingAndForeignFilesAreRefused) {
    EXPECT_EQ(Api().OpenFileExW(Folder.File(L"missing.kxr").c_str()), nullptr);
    EXPECT_EQ(Api().OpenFileExW(nullptr), nullptr);
    const std::wstring text = Folder.File(L"text.kxr");
    FILE* f = _wfopen(text.c_str(), L"wb");
    ASSERT_NE(f, nullptr);
    fputs("this is not a recording at all, but it is long enough to hold a header of one", f);
    fclose(f);
    EXPECT_EQ(Api().OpenFileExW(text.c_str()), nullptr);
}

TEST_F(PlayLib, CutShortOrDamagedRecordingsEndCleanlyAtTheLastGoodRecord) {
    const std::wstring whole = Folder.File(L"whole.kxr");
    MakeTestRecording(whole, 64, 48, 25, 1, 2000, true, true);
    std::vector<char> bytes;
    {
        FILE* f = _wfopen(whole.c_str(), L"rb");
        ASSERT_NE(f, nullptr);
        int c;
        while ((c = fgetc(f)) != EOF) bytes.push_back(static_cast<char>(c));
        fclose(f);
    }
    const size_t cutAt = bytes.size() * 3 / 5;
    std::vector<char> damaged = bytes;
    damaged[bytes.size() / 2] ^= 0x40;
    const struct {
        const wchar_t* name;
        std::vector<char> content;
    } cases[] = {{L"cut.kxr", std::vector<char>(bytes.begin(), bytes.begin() + cutAt)},
                 {L"damaged.kxr", damaged}};
    for (const auto& c : cases) {
        const std::wstring path = Folder.File(c.name);
        FILE* f = _wfopen(path.c_str(), L"wb");
        ASSERT_NE(f, nullptr);
        fwrite(c.content.data(), 1, c.content.size(), f);
        fclose(f);
        CDeliveryLog log;
        KXPLAYHANDLE h = OpenAndPlay(path, log);
        ASSERT_NE(h, nullptr);
        ASSERT_EQ(Window.Wait(KX_MSG_FILE_END, NoticeWaitMs), CNoticeListener::GotMessage) << "no 1124";
        const std::vector<Delivery> items = log.Items();
        uint32_t pictures = 0;
        for (const Delivery& d : items) {
            EXPECT_TRUE(d.whole);
            if (d.type == KX_FRAME_YUY2) {
                EXPECT_EQ(d.frame, pictures++);
            }
        }
        EXPECT_GT(pictures, 10u);
        EXPECT_LT(pictures, 50u);
        EXPECT_TRUE(Api().CloseFile(h));
    }
}

TEST_F(PlayLib, StaleAndMadeUpHandlesAreRefused) {
    const std::wstring path = Folder.File(L"h.kxr");
    MakeTestRecording(path, 64, 48, 25, 1, 1000, false);
    KXPLAYHANDLE closed = Api().OpenFileExW(path.c_str());
    ASSERT_NE(closed, nullptr);
    ASSERT_TRUE(Api().CloseFile(closed));
    for (KXPLAYHANDLE h : {closed, static_cast<KXPLAYHANDLE>(nullptr), reinterpret_cast<KXPLAYHANDLE>(0x1234),
                           reinterpret_cast<KXPLAYHANDLE>(&closed)}) {
        EXPECT_FALSE(Api().CloseFile(h));
        EXPECT_FALSE(Api().SetMsgWnd(h, Window.Handle()));
        EXPECT_FALSE(Api().SetFileEndMsg(h, Window.Handle(), KX_MSG_FILE_END));
        EXPECT_FALSE(Api().SetDecCallBackEx(h, &CDeliveryLog::Callback, nullptr, 0, KX_DECODE_YUY2));
        EXPECT_FALSE(Api().SetDecodeMode(h, 1));
        EXPECT_FALSE(Api().SetPlayOption(h, 0, 1));
        EXPECT_FALSE(Api().Play(h, nullptr));
        EXPECT_FALSE(Api().Pause(h));
        EXPECT_FALSE(Api().Stop(h));
        EXPECT_FALSE(Api().SetPlayedTimeEx(h, 0));
        EXPECT_EQ(Api().GetFileTotalFrames(h), -1);
        EXPECT_EQ(Api().GetFileTimeMilliSec(h), 0u);
    }
}
