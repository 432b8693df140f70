// The media file object under random sequences of decode callbacks from the
// scripted library (sizes, types, lengths and null pointers, good and bad),
// interleaved with reads, flushes, pauses, resumes, stops, seeks, notices and
// reopenings, from fixed seeds. Every buffer handed in or out ends at a page
// that faults when touched, so any over-read or over-write crashes at once.
// Invariants are checked after every step: the queue stays within flow
// control, the pool within its limit, the ring within its size, every read
// picture is whole and in order, and a failed read writes nothing.
#include "CrashReport.h"
#include "FakePlayLibrary.h"
#include "GuardedBlock.h"
#include "Soak.h"

#include "reader/AudioBuffer.h"
#include "reader/FramePool.h"
#include "reader/KXFile.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>

namespace {

constexpr int32_t LowWaterMark = 35;
constexpr size_t BlockBytes = 64 * 1024;
constexpr uint8_t Sentinel = 0xEE;
constexpr uint8_t TinyMark = 0xFD;
// A picture's first four bytes carry its number in base 200 (each byte below
// 200); the rest carry Fill(number). Pictures shorter than that are all TinyMark.
constexpr uint32_t Digits = 200;

uint8_t Fill(uint32_t number) { return static_cast<uint8_t>(number % Digits + 1); }

struct Figures {
    uint64_t Steps = 0;
    uint64_t Callbacks = 0;
    uint64_t BadCallbacks = 0;
    uint64_t PicturesRead = 0;
    uint64_t SoundRead = 0;
};

class CallbackFuzzer {
public:
    explicit CallbackFuzzer(uint32_t seed) : Random(seed), Source(BlockBytes), Destination(BlockBytes) {
        CKXFile::WaitLimits waits;
        waits.SizeMs = 0;
        waits.InfoMs = 0;
        File.reset(new CKXFile(Fake.Api(), waits));
        Fake.SetInfo(250, 10000);
    }

    void Run(uint32_t steps) {
        ASSERT_TRUE(Source.IsReady() && Destination.IsReady()) << "guarded memory could not be had";
        ASSERT_TRUE(File->OpenFile(L"fuzz.kxr")) << "the scripted library did not open";
        for (uint32_t i = 0; i < steps; ++i) {
            ASSERT_NO_FATAL_FAILURE(Step()) << "step " << i;
            ASSERT_NO_FATAL_FAILURE(CheckInvariants()) << "after step " << i;
            ++Counts.Steps;
        }
        File.reset();
    }

    Figures Counts;

private:
    uint32_t Pick(uint32_t bound) { return static_cast<uint32_t>(Random() % bound); }

    void Step() {
        const uint32_t action = Pick(100);
        if (action < 34) {
            NoteActivity("picture callback");
            DeliverPicture();
        } else if (action < 52) {
            NoteActivity("sound callback");
            DeliverSound();
        } else if (action < 55) {
            NoteActivity("odd callback");
            DeliverOddity();
        } else if (action < 75) {
            NoteActivity("ReadVideoFrame");
            ReadPicture();
        } else if (action < 88) {
            NoteActivity("ReadAudio");
            ReadSound();
        } else if (action < 90) {
            File->FlushBuffers();
        } else if (action < 92) {
            File->PauseDecoding();
        } else if (action < 94) {
            // As the video stream does when its worker starts, and only then:
            // with a short queue.
            if (File->QueuedPictureCount() < LowWaterMark) File->ResumeDecoding();
        } else if (action < 95) {
            File->StopDecoding();
        } else if (action < 97) {
            NoteActivity("SeekTo");
            Seek();
        } else if (action < 98) {
            Fake.Post(Pick(2) ? KX_MSG_FILE_END : KX_MSG_FILE_INFO);
        } else if (action < 99) {
            int32_t width = 0, height = 0;
            File->GetVideoSize(&width, &height);
            File->GetDurationMs();
            File->GetFrameRate();
            File->SetDestinationStride(StrideChoice());
        } else {
            File->CloseFile();
            if (Pick(4) != 0) {
                ASSERT_TRUE(File->OpenFile(L"again.kxr")) << "reopening failed";
            }
        }
    }

    int32_t StrideChoice() {
        int32_t width = 0, height = 0;
        File->GetVideoSize(&width, &height);
        const int32_t choices[] = {width, width, width + 8, width - 2, 0, -4, width * 3};
        return choices[Pick(7)];
    }

    void DeliverPicture() {
        static const int32_t sizes[][2] = {{32, 16}, {32, 16}, {32, 16}, {32, 8}, {16, 16}, {64, 32},
                                           {0, 0},   {-2, 16}, {4098, 2160}, {4608, 2592}, {1, 1}, {32, 0}};
        const auto& size = sizes[Pick(12)];
        const int64_t exact = static_cast<int64_t>(size[0]) * size[1] * 2;
        const int64_t known = File->State().PictureBytes;
        const int64_t lengths[] = {exact, exact, exact, 0, -1, -100000, 1, 3, exact - 1, exact + 1, known + 1,
                                   static_cast<int64_t>(Pick(4096))};
        int64_t length = lengths[Pick(12)];
        if (length > static_cast<int64_t>(BlockBytes)) length = Pick(4096);
        const bool valid = length >= 1 && size[0] > 0 && size[1] > 0;
        uint8_t* data = Source.Tail(length > 0 ? static_cast<size_t>(length) : 16);
        if (length >= 4) {
            const uint32_t number = NextNumber++;
            uint32_t rest = number;
            for (int digit = 0; digit < 4; ++digit) {
                data[digit] = static_cast<uint8_t>(rest % Digits);
                rest /= Digits;
            }
            std::memset(data + 4, Fill(number), static_cast<size_t>(length - 4));
        } else if (length > 0) {
            std::memset(data, TinyMark, static_cast<size_t>(length));
        }
        if (!File->State().Playing) ++Late;
        const bool nullData = Pick(12) == 0;
        if (!valid || nullData) ++Counts.BadCallbacks;
        if (Fake.Deliver(KX_FRAME_YUY2, size[0], size[1], nullData ? nullptr : data, static_cast<long>(length))) {
            ++Counts.Callbacks;
        }
    }

    void DeliverSound() {
        const long lengths[] = {640, 640, 800, 799, 0, -1, 1, 8000, 63999, 64000, 65535, static_cast<long>(Pick(4096))};
        const long length = lengths[Pick(12)];
        uint8_t* data = Source.Tail(length > 0 ? static_cast<size_t>(length) : 16);
        if (length > 0) std::memset(data, 0x55, static_cast<size_t>(length));
        const bool nullData = Pick(12) == 0;
        if (length <= 0 || nullData) ++Counts.BadCallbacks;
        if (Fake.Deliver(KX_FRAME_PCM, 0, 0, nullData ? nullptr : data, length)) ++Counts.Callbacks;
    }

    // Unknown types, a missing frame record, a missing context.
    void DeliverOddity() {
        ++Counts.BadCallbacks;
        uint8_t* data = Source.Tail(64);
        FrameInfo info{32, 16, 0, 0};
        switch (Pick(4)) {
        case 0:
            Fake.Deliver(static_cast<int32_t>(Random()), 32, 16, data, 64);
            break;
        case 1:
            CKXFile::DecodeCallback(0, reinterpret_cast<char*>(data), 64, nullptr, File.get(), 0);
            break;
        case 2:
            info.type = KX_FRAME_YUY2;
            CKXFile::DecodeCallback(0, reinterpret_cast<char*>(data), 64, &info, nullptr, 0);
            break;
        default:
            Fake.Deliver(KX_FRAME_YUY2 + 1, 32, 16, data, 64);
            break;
        }
    }

    void ReadPicture() {
        const int32_t size = File->State().PictureBytes;
        const int32_t capacities[] = {size, size, size, size - 1, 0, -1, size * 2, static_cast<int32_t>(Pick(4096)),
                                      size * 4};
        int32_t capacity = capacities[Pick(9)];
        if (capacity > static_cast<int32_t>(BlockBytes)) capacity = static_cast<int32_t>(BlockBytes);
        const size_t region = capacity > 0 ? static_cast<size_t>(capacity) : 16;
        uint8_t* destination = Destination.Tail(region);
        std::memset(destination, Sentinel, region);
        const bool nullDestination = Pick(16) == 0;
        const int32_t queued = File->QueuedPictureCount();
        const bool whole = File->State().DestinationStride == size && capacity >= size && size > 0;
        const bool read = File->ReadVideoFrame(nullDestination ? nullptr : destination, capacity);
        if (nullDestination) {
            ASSERT_FALSE(read) << "a picture was read into a null buffer";
            return;
        }
        if (!read) {
            if (queued > 0 && whole) {
                // Sound may have landed since the count; pictures only arrive
                // on this thread, so the queue still held them.
                FAIL() << "a queued picture did not fit a buffer of the picture size: larger than its buffer";
            }
            for (size_t i = 0; i < region; ++i) ASSERT_EQ(Sentinel, destination[i]) << "a failed read wrote byte " << i;
            return;
        }
        ++Counts.PicturesRead;
        ASSERT_NO_FATAL_FAILURE(CheckPicture(destination, region));
    }

    void CheckPicture(const uint8_t* bytes, size_t region) {
        if (bytes[0] == Sentinel || bytes[0] == TinyMark) {
            for (size_t i = 0; i < region; ++i) {
                ASSERT_TRUE(bytes[i] == Sentinel || bytes[i] == TinyMark) << "stray byte " << i << " in a short picture";
            }
            return;
        }
        ASSERT_GE(region, 4u);
        uint32_t number = 0;
        for (int digit = 3; digit >= 0; --digit) {
            ASSERT_LT(bytes[digit], Digits) << "the picture's number is damaged";
            number = number * Digits + bytes[digit];
        }
        ASSERT_LT(number, NextNumber) << "a picture that was never delivered";
        ASSERT_TRUE(LastRead < 0 || number > static_cast<uint32_t>(LastRead))
            << "picture " << number << " came after picture " << LastRead << ": out of order or read twice";
        LastRead = number;
        const uint8_t fill = Fill(number);
        for (size_t i = 4; i < region; ++i) {
            ASSERT_TRUE(bytes[i] == fill || bytes[i] == Sentinel)
                << "byte " << i << " of picture " << number << " belongs to another picture";
        }
    }

    void ReadSound() {
        const uint32_t lengths[] = {800, 800, 800, 0, 1, 64000, 64001, Pick(8192)};
        const uint32_t length = lengths[Pick(8)];
        const size_t region = length > 0 ? length : 16;
        uint8_t* destination = Destination.Tail(region);
        std::memset(destination, Sentinel, region);
        const bool nullDestination = Pick(16) == 0;
        const bool read = File->ReadAudio(nullDestination ? nullptr : destination, length);
        if (nullDestination) {
            ASSERT_FALSE(read) << "sound was read into a null buffer";
            return;
        }
        if (!read) {
            for (size_t i = 0; i < region; ++i) ASSERT_EQ(Sentinel, destination[i]) << "a failed read wrote byte " << i;
            return;
        }
        ++Counts.SoundRead;
        for (uint32_t i = 0; i < length; ++i) ASSERT_EQ(0x55, destination[i]) << "sound byte " << i << " is not sound";
    }

    void Seek() {
        const uint32_t duration = File->GetDurationMs();
        const uint32_t targets[] = {0, duration / 2, duration ? duration - 1 : 0, duration, Pick(20000)};
        if (Pick(8) == 0) Fake.SetAnswers(TRUE, TRUE, FALSE);
        File->SeekTo(targets[Pick(5)]);
        Fake.SetAnswers(TRUE, TRUE, TRUE);
    }

    void CheckInvariants() {
        const int32_t queued = File->QueuedPictureCount();
        const MediaFileState state = File->State();
        const int32_t high = CPictureBudget::DepthFor(state.PictureBytes, Budget).High;
        if (queued < high) Late = 0;
        ASSERT_LE(queued, high + Late) << "the queue outgrew flow control";
        ASSERT_LT(state.SoundBytes, static_cast<uint32_t>(CAudioBuffer::RingBytes));
        ASSERT_LE(state.PictureBytes, 4096 * 2160 * 2);
        if (!state.Open) {
            ASSERT_EQ(0, queued) << "pictures left queued in a closed file";
        }
    }

    const int64_t Budget = CPictureBudget::RegistryBudgetBytes();
    CFakePlayLibrary Fake;
    std::unique_ptr<CKXFile> File;
    std::mt19937 Random;
    CGuardedBlock Source;
    CGuardedBlock Destination;
    uint32_t NextNumber = 0;
    int64_t LastRead = -1;
    int32_t Late = 0;
};

TEST(CallbackFuzz, RandomCallbacksAndCallsFromFixedSeeds) {
    const uint32_t seeds[] = {1, 7, 42, 1234, 99991};
    Figures total;
    for (uint32_t seed : seeds) {
        CallbackFuzzer fuzzer(seed);
        ASSERT_NO_FATAL_FAILURE(fuzzer.Run(Rounds(20000))) << "seed " << seed;
        total.Steps += fuzzer.Counts.Steps;
        total.Callbacks += fuzzer.Counts.Callbacks;
        total.BadCallbacks += fuzzer.Counts.BadCallbacks;
        total.PicturesRead += fuzzer.Counts.PicturesRead;
        total.SoundRead += fuzzer.Counts.SoundRead;
        EXPECT_GT(fuzzer.Counts.PicturesRead, 0u) << "seed " << seed << " never read a picture: the driver is blind";
    }
    RecordProperty("Steps", std::to_string(total.Steps));
    RecordProperty("Callbacks", std::to_string(total.Callbacks));
    RecordProperty("BadCallbacks", std::to_string(total.BadCallbacks));
    RecordProperty("PicturesRead", std::to_string(total.PicturesRead));
    RecordProperty("SoundRead", std::to_string(total.SoundRead));
}

// The largest picture the reader takes, and one row and one column beyond it.
TEST(CallbackFuzz, LargestPictureIsTakenAndLargerOnesAreNot) {
    CFakePlayLibrary fake;
    CKXFile::WaitLimits waits;
    waits.SizeMs = 0;
    const int32_t sizes[][3] = {{4096, 2160, 1}, {4097, 2160, 0}, {4096, 2161, 0}};
    for (const auto& size : sizes) {
        CKXFile file(fake.Api(), waits);
        ASSERT_TRUE(file.OpenFile(L"large.kxr"));
        const size_t bytes = static_cast<size_t>(size[0]) * size[1] * 2;
        CGuardedBlock source(bytes);
        CGuardedBlock destination(bytes);
        ASSERT_TRUE(source.IsReady() && destination.IsReady());
        std::memset(source.Tail(bytes), 0x42, bytes);
        ASSERT_TRUE(fake.Deliver(KX_FRAME_YUY2, size[0], size[1], source.Tail(bytes), static_cast<long>(bytes)));
        EXPECT_EQ(size[2], file.QueuedPictureCount()) << size[0] << "x" << size[1];
        EXPECT_EQ(size[2] != 0, file.ReadVideoFrame(destination.Tail(bytes), static_cast<int32_t>(bytes)));
    }
}

}  // namespace

namespace {

// Found by the fuzzer: after a reopen the pool is the previous file's until
// the first valid picture; a picture that matched the unknown size in one
// dimension was queued in it and its buffer later overran the new pool.
TEST(CallbackFuzz, PictureWithoutAUsableSizeIsNeverQueued) {
    CFakePlayLibrary fake;
    CKXFile::WaitLimits waits;
    waits.SizeMs = 0;
    CKXFile file(fake.Api(), waits);
    ASSERT_TRUE(file.OpenFile(L"first.kxr"));
    ASSERT_TRUE(fake.Picture(16, 16, 0x10));
    file.CloseFile();
    ASSERT_TRUE(file.OpenFile(L"second.kxr"));
    const int32_t unusable[][2] = {{32, 0}, {0, 16}, {-2, 16}, {16, 4000}};
    for (const auto& size : unusable) {
        ASSERT_TRUE(fake.Picture(size[0], size[1], 0x20, 64));
        EXPECT_EQ(0, file.QueuedPictureCount()) << size[0] << "x" << size[1] << " was queued without a known size";
    }
    ASSERT_TRUE(fake.Picture(32, 16, 0x30));
    EXPECT_EQ(1, file.QueuedPictureCount());
}

}  // namespace
