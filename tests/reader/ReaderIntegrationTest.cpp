// The reader with the stand-in playback library, loaded as in production:
// complete and ordered delivery on two reader threads, flow-control bounds,
// seeking, closing while decoding runs, several files at once, and clean
// failures.
#include "RecordingFile.h"
#include "ReaderTestSupport.h"
#include "recording/TestPattern.h"
#include "reader/KXFile.h"
#include "reader/PlayLibrary.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

namespace {

constexpr DWORD StallMs = 10000;  // no progress for this long fails the test

struct PictureLog {
    std::vector<uint32_t> Frames;
    int32_t MaxQueued = 0;
    std::string Problem;
};

struct SoundLog {
    std::vector<uint32_t> FirstSamples;  // of each 800-byte read
    std::string Problem;
};

// Pacing between the two readers, so decoding never runs further ahead of
// the sound reader than the ring holds (as a clock would pace real streams).
class CPacing {
public:
    CPacing() : Progress(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}
    ~CPacing() { CloseHandle(Progress); }
    void SoundAt(uint32_t ms) {
        SoundMs = ms;
        SetEvent(Progress);
    }
    void SoundDone() {
        Done = true;
        SetEvent(Progress);
    }
    bool WaitUntilPictureAllowed(uint32_t pictureMs) {
        return WaitUntil(Progress, [&] { return Done.load() || SoundMs.load() + 1000 >= pictureMs; },
                         StallMs);
    }

private:
    HANDLE Progress;
    std::atomic<uint32_t> SoundMs{0};
    std::atomic<bool> Done{false};
};

// Reads pictures until none can come any more.
PictureLog ReadPictures(CKXFile& file, int32_t width, int32_t height, uint32_t fps, CPacing* pacing) {
    PictureLog log;
    std::vector<uint8_t> buffer(static_cast<size_t>(width) * height * 2);
    for (;;) {
        if (!WaitUntil(file.PictureEvent(),
                       [&] { return file.QueuedPictureCount() > 0 || !file.AwaitPictures(nullptr); },
                       StallMs)) {
            log.Problem = "no picture and no end after " + std::to_string(log.Frames.size());
            return log;
        }
        if (file.QueuedPictureCount() == 0) return log;
        if (pacing && !pacing->WaitUntilPictureAllowed(static_cast<uint32_t>(log.Frames.size() * 1000 / fps))) {
            log.Problem = "sound reader stalled";
            return log;
        }
        log.MaxQueued = std::max(log.MaxQueued, file.QueuedPictureCount());
        if (!file.ReadVideoFrame(buffer.data(), static_cast<int32_t>(buffer.size()))) {
            log.Problem = "queued picture could not be read";
            return log;
        }
        kxrec::TestPictureId id{};
        if (!kxrec::CheckTestPicture(buffer.data(), width, height, width * 2, &id)) {
            log.Problem = "damaged picture after " + std::to_string(log.Frames.size());
            return log;
        }
        log.Frames.push_back(id.frameNumber);
    }
}

// Reads 800-byte sound samples until the file object reports the end of sound,
// telling the file that sound is read, as the audio stream does: a full ring
// then holds decoding back instead of losing sound. Without it the sound was
// safe only while every pause landed within a second of pictures, which a
// decoding thread that makes no system call per picture overruns when the
// resuming thread is descheduled.
SoundLog ReadSound(CKXFile& file, CPacing* pacing) {
    SoundLog log;
    uint8_t buffer[800];
    file.SetSoundConsumer(true);
    while (!file.State().AudioFinished) {
        if (!file.ReadAudio(buffer, 800)) {
            // The read that found too little armed the event, as the audio
            // stream's does before it waits: a wait that times out missed a wake.
            if (!file.State().AudioFinished && WaitForSingleObject(file.SoundEvent(), StallMs) != WAIT_OBJECT_0) {
                log.Problem = "no sound and no end";
                break;
            }
            continue;
        }
        uint32_t first = 0;
        if (!kxrec::CheckTone(buffer, 800, &first)) {
            log.Problem = "damaged sound";
            break;
        }
        log.FirstSamples.push_back(first);
        if (pacing) pacing->SoundAt((first + 400) / 8);
    }
    file.SetSoundConsumer(false);
    if (pacing) pacing->SoundDone();
    return log;
}

bool Consecutive(const std::vector<uint32_t>& values, uint32_t first, uint32_t step) {
    for (size_t i = 0; i < values.size(); ++i) {
        if (values[i] != first + i * step) return false;
    }
    return true;
}

}  // namespace

TEST(ReaderWithLibrary, DeliversEveryPictureAndAllSoundInOrder) {
    CRecordingFile recording(64, 32, 25, 12000, true);
    ASSERT_EQ(recording.Error(), "");
    for (int round = 0; round < 20; ++round) {
        CKXFile file;
        ASSERT_TRUE(file.OpenFile(recording.Path()));
        int32_t w = 0, h = 0;
        ASSERT_TRUE(file.GetVideoSize(&w, &h));
        EXPECT_EQ(w, 64);
        EXPECT_EQ(h, 32);
        EXPECT_EQ(file.GetDurationMs(), 12000u);
        EXPECT_EQ(file.GetFrameRate(), 25);
        CPacing pacing;
        PictureLog pictures;
        SoundLog sound;
        RunBounded(
            [&] {
                std::thread video([&] { pictures = ReadPictures(file, 64, 32, 25, &pacing); });
                sound = ReadSound(file, &pacing);
                video.join();
            },
            120000, "reading a whole recording");
        EXPECT_EQ(pictures.Problem, "");
        EXPECT_EQ(sound.Problem, "");
        ASSERT_EQ(pictures.Frames.size(), 300u);
        EXPECT_TRUE(Consecutive(pictures.Frames, 0, 1)) << "pictures out of order or missing";
        ASSERT_EQ(sound.FirstSamples.size(), 12000u * 8 * 2 / 800);
        EXPECT_EQ(sound.FirstSamples.front(), 0u);
        EXPECT_TRUE(Consecutive(sound.FirstSamples, 0, 400)) << "sound out of order or missing";
        // Appends beyond 50 happen only while a resume is still on its way
        // (decoding restarted, its flags not yet written); under load that
        // can be a few dozen pictures, never the bulk of the file.
        EXPECT_LT(pictures.MaxQueued, 150) << "flow control did not hold the queue";
        EXPECT_TRUE(file.State().FileEnded);
    }
}

TEST(ReaderWithLibrary, SeekDeliversThePicturesAndSoundOfTheNewTime) {
    CRecordingFile recording(32, 16, 25, 60000, true);
    ASSERT_EQ(recording.Error(), "");
    CKXFile file;
    ASSERT_TRUE(file.OpenFile(recording.Path()));
    ASSERT_EQ(file.GetDurationMs(), 60000u);
    std::vector<uint8_t> picture(32 * 16 * 2);
    uint8_t sound[800];
    for (int i = 0; i < 40; ++i) {
        const uint32_t target = static_cast<uint32_t>((i * 7919u) % 59000u);
        ASSERT_TRUE(file.SeekTo(target));
        ASSERT_TRUE(WaitUntil(file.PictureEvent(), [&] { return file.State().PrerollReached != 0; }, StallMs))
            << "no preroll after seeking to " << target;
        ASSERT_TRUE(file.ReadVideoFrame(picture.data(), static_cast<int32_t>(picture.size())));
        kxrec::TestPictureId id{};
        ASSERT_TRUE(kxrec::CheckTestPicture(picture.data(), 32, 16, 64, &id));
        EXPECT_EQ(id.frameNumber, target / 40) << "first picture after seeking to " << target;
        ASSERT_TRUE(WaitUntil(file.SoundEvent(), [&] { return file.State().SoundBytes >= 800; }, StallMs));
        ASSERT_TRUE(file.ReadAudio(sound, 800));
        uint32_t first = 0;
        ASSERT_TRUE(kxrec::CheckTone(sound, 800, &first));
        EXPECT_GE(first, target * 8) << "sound from before the new time";
        EXPECT_LT(first, target * 8 + 8 * 200) << "sound too far after the new time";
    }
    EXPECT_FALSE(file.SeekTo(60000));
}

TEST(ReaderWithLibrary, CloseOrDestroyWhileDecodingRuns) {
    CRecordingFile recording(32, 16, 25, 20000, true);
    ASSERT_EQ(recording.Error(), "");
    RunBounded(
        [&] {
            for (int i = 0; i < 200; ++i) {
                std::unique_ptr<CKXFile> file(new CKXFile);
                ASSERT_TRUE(file->OpenFile(recording.Path())) << "iteration " << i;
                int32_t w = 0, h = 0;
                ASSERT_TRUE(file->GetVideoSize(&w, &h));
                std::atomic<bool> stop{false};
                std::thread reader([&] {
                    std::vector<uint8_t> picture(32 * 16 * 2);
                    while (!stop.load()) {
                        if (!file->ReadVideoFrame(picture.data(), static_cast<int32_t>(picture.size()))) {
                            WaitForSingleObject(file->PictureEvent(), 5);
                        }
                    }
                });
                if (i % 2 == 0) file->CloseFile();
                stop = true;
                reader.join();
                if (i % 4 == 1) {
                    ASSERT_TRUE(file->OpenFile(recording.Path())) << "reopening, iteration " << i;
                }
                file.reset();
            }
        },
        240000, "closing and destroying while decoding");
}

TEST(ReaderWithLibrary, TwoFilesAtOnce) {
    CRecordingFile first(64, 32, 25, 8000, true);
    CRecordingFile second(32, 16, 30, 6000, false);
    ASSERT_EQ(first.Error(), "");
    ASSERT_EQ(second.Error(), "");
    CKXFile a;
    CKXFile b;
    ASSERT_TRUE(a.OpenFile(first.Path()));
    ASSERT_TRUE(b.OpenFile(second.Path()));
    PictureLog picturesA, picturesB;
    SoundLog soundA, soundB;
    CPacing pacing;
    RunBounded(
        [&] {
            std::thread videoA([&] { picturesA = ReadPictures(a, 64, 32, 25, &pacing); });
            std::thread videoB([&] { picturesB = ReadPictures(b, 32, 16, 30, nullptr); });
            std::thread audioB([&] { soundB = ReadSound(b, nullptr); });
            soundA = ReadSound(a, &pacing);
            videoA.join();
            videoB.join();
            audioB.join();
        },
        120000, "reading two files at once");
    EXPECT_EQ(picturesA.Problem, "");
    EXPECT_EQ(picturesB.Problem, "");
    EXPECT_EQ(soundA.Problem, "");
    EXPECT_EQ(picturesA.Frames.size(), 200u);
    EXPECT_TRUE(Consecutive(picturesA.Frames, 0, 1));
    EXPECT_EQ(picturesB.Frames.size(), 180u);
    EXPECT_TRUE(Consecutive(picturesB.Frames, 0, 1));
    EXPECT_EQ(soundA.FirstSamples.size(), 160u);
    EXPECT_TRUE(soundB.FirstSamples.empty()) << "a file without sound";
    EXPECT_TRUE(b.State().AudioFinished);
}

TEST(ReaderWithLibrary, MissingLibraryOrFunctionsFailOpens) {
    CPlayLibrary absent(L"C:\\no-such-folder\\VUVezaVID.dll");
    EXPECT_EQ(absent.Api(), nullptr);
    CPlayLibrary foreign(L"kernel32.dll");
    EXPECT_EQ(foreign.Api(), nullptr) << "a library without the thirteen functions";
    EXPECT_NE(CPlayLibrary::Shared().Api(), nullptr) << "the library beside the executable";
    CRecordingFile recording(32, 16, 25, 2000, false);
    CKXFile file(absent.Api());
    for (int i = 0; i < 3; ++i) EXPECT_FALSE(file.OpenFile(recording.Path()));
}

TEST(ReaderWithLibrary, RefusedFilesFailCleanlyAndTheObjectStaysUsable) {
    CRecordingFile junk("this is not a recording");
    CRecordingFile good(32, 16, 25, 2000, false);
    CKXFile file;
    EXPECT_FALSE(file.OpenFile(L"C:\\no-such-folder\\missing.kxr"));
    EXPECT_FALSE(file.OpenFile(junk.Path()));
    EXPECT_FALSE(file.State().Open);
    EXPECT_EQ(file.GetDurationMs(), 0u);
    ASSERT_TRUE(file.OpenFile(good.Path()));
    PictureLog pictures = ReadPictures(file, 32, 16, 25, nullptr);
    EXPECT_EQ(pictures.Problem, "");
    EXPECT_EQ(pictures.Frames.size(), 50u);
}
