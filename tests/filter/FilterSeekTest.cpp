// Seeking through the graph's IMediaSeeking, as applications do: the file
// moves whichever pins are connected, the new segment starts with the picture
// and the sound at the new start time and holds nothing from before it; a
// seek to a picture, in time or in pictures, starts with that picture.
#include "DeliveryChecks.h"
#include "FilterTest.h"
#include "GraphRig.h"

#include "picture/PictureGrid.h"

#include <uuids.h>
#include <vfwmsgs.h>

#include <cmath>

namespace {

// A recording at a rate, and the duration the library reports for it.
// Without sound the duration ends with the last picture, whose time and
// length the library counts in whole milliseconds: 20 s then read 19,999 ms.
struct RateCase {
    uint32_t Fps;
    uint32_t FpsDen;
    uint32_t Frames;
    uint32_t ReportedMs;
    bool Sound;

    uint32_t RecordingMs() const { return Sound ? ReportedMs : ReportedMs + 1; }
};

const RateCase Rates[] = {{25, 1, 500, 20000, true},       {30, 1, 600, 20000, true}, {30, 1, 600, 19999, false},
                          {30000, 1001, 600, 20020, true}, {25, 2, 250, 20000, true}, {15, 2, 150, 20000, true},
                          {15, 2, 150, 19999, false}};

// The picture that starts decoding at ms: the one holding it, or the one
// whose start is nearest (ties to the later), on the recording's exact rate.
int64_t HoldingPicture(const RateCase& r, uint32_t ms) { return 1ll * ms * r.Fps / (1000ll * r.FpsDen); }
int64_t NearestPicture(const RateCase& r, uint32_t ms) {
    return (2ll * ms * r.Fps + 1000ll * r.FpsDen) / (2000ll * r.FpsDen);
}

constexpr REFERENCE_TIME Second = 10000000;
constexpr REFERENCE_TIME PictureStep = 400000;
constexpr REFERENCE_TIME SoundStep = 500000;
constexpr long SoundBytes = 800;
// The stand-in library's sound comes in records of 40 ms.
constexpr int64_t SoundRecordTones = 320;

class FilterSeekTest : public FilterTest {
protected:
    void SetUp() override {
        FilterTest::SetUp();
        plan.DurationMs = 10000;
        path = Recording(L"seek.kxr", plan);
    }

    HRESULT SeekTo(CGraphRig* rig, REFERENCE_TIME start) {
        return rig->Seeking->SetPositions(&start, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning);
    }

    // The samples of the segment that began at or after index from.
    static std::vector<DeliveredSample> NewSegment(const CSampleLog& log, size_t from) {
        size_t first = 0;
        EXPECT_TRUE(log.WaitForDiscontinuity(from, 30000, &first)) << "no new segment within 30 s";
        return From(log.Snapshot(), first);
    }

    // The first count samples of what is there once at least count arrived.
    static std::vector<DeliveredSample> Take(const CSampleLog& log, size_t from, size_t count) {
        size_t first = 0;
        if (!log.WaitForDiscontinuity(from, 30000, &first)) return {};
        EXPECT_TRUE(log.WaitForCount(first + count, 30000)) << "the new segment stalled";
        auto samples = From(log.Snapshot(), first);
        samples.resize(std::min(samples.size(), count));
        return samples;
    }

    // The first tone sample of sound that must start inside the picture that
    // starts at pictureStart (the library is asked for a millisecond inside
    // it); -1, failing the test, when it does not.
    static int64_t ToneInPicture(const std::vector<DeliveredSample>& sound, REFERENCE_TIME pictureStart) {
        const int64_t tone = sound.empty() ? -1 : sound.front().FirstTone;
        const int64_t from = pictureStart * 8 / 10000;
        if (tone < from || tone >= from + PictureStep * 8 / 10000) {
            ADD_FAILURE() << "sound starts at tone " << tone << ", not inside the picture from " << from;
            return -1;
        }
        return tone;
    }

    // Paused, the renderers hold the first picture of each new segment: the
    // frame it holds, or -1 when none came.
    static int64_t FirstPictureAfter(const CSampleLog& log, size_t from) {
        size_t first = 0;
        if (!log.WaitForDiscontinuity(from, 30000, &first)) return -1;
        return log.Snapshot()[first].Frame;
    }

    static ComPtr<IMediaSeeking> PinSeeking(CGraphRig* rig, const wchar_t* id) {
        ComPtr<IPin> pin;
        ComPtr<IMediaSeeking> seeking;
        if (SUCCEEDED(rig->Source->FindPin(id, &pin))) pin.As(&seeking);
        return seeking;
    }

    RecordingPlan plan;
    std::wstring path;
};

}  // namespace

TEST(PictureGridTest, LibraryMsLandsOnThePictureHoweverTheLibraryCounts) {
    for (const RateCase& r : Rates) {
        const CPictureGrid grid(r.ReportedMs * 10000.0 / r.Frames, r.ReportedMs);
        EXPECT_EQ(r.Frames, grid.FrameTotal());
        for (int64_t n = 0; n < r.Frames; ++n) {
            const REFERENCE_TIME inside = grid.StartOf(n) + static_cast<REFERENCE_TIME>(grid.Period() * 0.9);
            for (REFERENCE_TIME t : {grid.StartOf(n), n * grid.AvgTimePerFrame(), inside}) {
                ASSERT_EQ(n, grid.PictureAt(t)) << r.Fps << "/" << r.FpsDen << " at " << t;
                const uint32_t ms = grid.LibraryMs(t);
                ASSERT_LT(ms, r.ReportedMs);
                ASSERT_EQ(n, HoldingPicture(r, ms)) << r.Fps << "/" << r.FpsDen << " picture " << n << ": " << ms;
                ASSERT_EQ(n, NearestPicture(r, ms)) << r.Fps << "/" << r.FpsDen << " picture " << n << ": " << ms;
            }
        }
    }
}

// Backward and forward steps of a paused graph, through the graph's seeking
// and (at rate 2) with the pins' rate changed: each new segment starts with
// the picture asked for, its sound from inside that picture.
TEST_F(FilterSeekTest, SeekToAPictureStartsWithThatPictureAtEveryRate) {
    // Four seconds of each (the last one without sound, reading 3,999 ms).
    const RateCase played[] = {{25, 1, 100, 4000, true}, {30, 1, 120, 4000, true}, {30000, 1001, 120, 4004, true},
                               {25, 2, 50, 4000, true},  {15, 2, 30, 3999, false}};
    for (const RateCase& r : played) {
        RecordingPlan rated;
        rated.Fps = r.Fps;
        rated.FpsDen = r.FpsDen;
        rated.DurationMs = r.RecordingMs();
        rated.Sound = r.Sound;
        const std::wstring file = Recording(L"rated.kxr", rated);
        ASSERT_EQ(r.Frames, rated.FrameCount());
        CGraphRig rig;
        RigOptions options;
        options.Audio = rated.Sound;
        ASSERT_EQ(S_OK, rig.Build(file, options));
        const double rate = r.Fps == 30 ? 2.0 : 1.0;
        for (const wchar_t* id : {L"1", L"2"}) ASSERT_EQ(S_OK, PinSeeking(&rig, id)->SetRate(rate));
        LONGLONG duration = 0;
        ASSERT_EQ(S_OK, rig.Seeking->GetDuration(&duration));
        ASSERT_EQ(r.ReportedMs * 10000ll, duration);
        const CPictureGrid grid(duration / static_cast<double>(r.Frames), r.ReportedMs);
        ASSERT_EQ(S_OK, ChangeState(rig.Control.Get(), State_Paused));
        ASSERT_EQ(0, FirstPictureAfter(rig.VideoLog, 0));
        const int64_t last = r.Frames - 1;
        for (int64_t n : {int64_t{7}, int64_t{6}, int64_t{1}, int64_t{2}, last / 2, last / 2 - 1, last, last - 1}) {
            const size_t videoFrom = rig.VideoLog.Count();
            const size_t audioFrom = rig.AudioLog.Count();
            ASSERT_EQ(S_OK, SeekTo(&rig, n * grid.AvgTimePerFrame()));
            EXPECT_EQ(n, FirstPictureAfter(rig.VideoLog, videoFrom)) << r.Fps << "/" << r.FpsDen;
            // The last pictures hold less than a sound sample's length.
            if (!rated.Sound || n > last / 2) continue;
            size_t first = 0;
            ASSERT_TRUE(rig.AudioLog.WaitForDiscontinuity(audioFrom, 30000, &first));
            // From the library's millisecond inside picture n, or, where the
            // library gave sound from there before the picture (which the
            // filter takes only after a picture), from the next sound it gave.
            const int64_t tone = rig.AudioLog.Snapshot()[first].FirstTone;
            const int64_t pictureTone = grid.StartOf(n) * 8 / 10000;
            EXPECT_GE(tone, pictureTone) << r.Fps << "/" << r.FpsDen << " picture " << n;
            EXPECT_LT(tone, pictureTone + static_cast<int64_t>(grid.Period() * 8 / 10000) + SoundRecordTones)
                << r.Fps << "/" << r.FpsDen << " picture " << n;
        }
        ASSERT_EQ(S_OK, ChangeState(rig.Control.Get(), State_Stopped));
    }
}

TEST_F(FilterSeekTest, PinsSpeakInPicturesWhileStoppedAndSeekToThem) {
    CGraphRig rig;
    ASSERT_EQ(S_OK, rig.Build(path, RigOptions()));
    const int64_t total = plan.FrameCount();
    const GUID unknown = TIME_FORMAT_FIELD;
    for (const wchar_t* id : {L"1", L"2"}) {
        ComPtr<IMediaSeeking> seeking = PinSeeking(&rig, id);
        ASSERT_TRUE(seeking);
        EXPECT_EQ(S_OK, seeking->IsFormatSupported(&TIME_FORMAT_FRAME));
        EXPECT_EQ(S_FALSE, seeking->IsFormatSupported(&unknown));
        GUID format = GUID_NULL;
        EXPECT_EQ(S_OK, seeking->QueryPreferredFormat(&format));
        EXPECT_TRUE(IsEqualGUID(format, TIME_FORMAT_MEDIA_TIME));
        EXPECT_EQ(E_POINTER, seeking->SetTimeFormat(nullptr));
        EXPECT_EQ(E_INVALIDARG, seeking->SetTimeFormat(&unknown));
        EXPECT_EQ(S_FALSE, seeking->IsUsingTimeFormat(&TIME_FORMAT_FRAME));
        ASSERT_EQ(S_OK, seeking->SetTimeFormat(&TIME_FORMAT_FRAME));
        EXPECT_EQ(S_OK, seeking->IsUsingTimeFormat(&TIME_FORMAT_FRAME));
        EXPECT_EQ(S_OK, seeking->GetTimeFormat(&format));
        EXPECT_TRUE(IsEqualGUID(format, TIME_FORMAT_FRAME));

        LONGLONG value = -1, stop = -1, earliest = -1;
        EXPECT_EQ(S_OK, seeking->GetDuration(&value));
        EXPECT_EQ(total, value);
        EXPECT_EQ(S_OK, seeking->GetStopPosition(&value));
        EXPECT_EQ(total, value);
        EXPECT_EQ(S_OK, seeking->GetPositions(&value, &stop));
        EXPECT_EQ(0, value);
        EXPECT_EQ(total, stop);
        EXPECT_EQ(S_OK, seeking->GetAvailable(&earliest, &value));
        EXPECT_EQ(0, earliest);
        EXPECT_EQ(total, value);
        // A null format is the one in use.
        EXPECT_EQ(S_OK, seeking->ConvertTimeFormat(&value, &TIME_FORMAT_MEDIA_TIME, 10, nullptr));
        EXPECT_EQ(10 * PictureStep, value);
        EXPECT_EQ(S_OK, seeking->ConvertTimeFormat(&value, nullptr, 10 * PictureStep - 10000, &TIME_FORMAT_MEDIA_TIME));
        EXPECT_EQ(9, value);
        EXPECT_EQ(S_OK, seeking->ConvertTimeFormat(&value, &TIME_FORMAT_FRAME, 3, &TIME_FORMAT_FRAME));
        EXPECT_EQ(3, value);
        EXPECT_EQ(E_INVALIDARG, seeking->ConvertTimeFormat(&value, &unknown, 3, nullptr));
        EXPECT_EQ(E_INVALIDARG, seeking->ConvertTimeFormat(&value, nullptr, 3, &unknown));
        EXPECT_EQ(E_POINTER, seeking->ConvertTimeFormat(nullptr, nullptr, 3, nullptr));
        LONGLONG frame = 5;
        EXPECT_EQ(E_POINTER, seeking->SetPositions(nullptr, AM_SEEKING_AbsolutePositioning, nullptr, 0));
        EXPECT_EQ(E_INVALIDARG, seeking->SetPositions(&frame, AM_SEEKING_IncrementalPositioning, nullptr, 0));
        // A picture past the last one leaves the positions as they are.
        frame = total;
        EXPECT_EQ(S_OK, seeking->SetPositions(&frame, AM_SEEKING_AbsolutePositioning, nullptr, 0));
        EXPECT_EQ(S_OK, seeking->GetPositions(&value, nullptr));
        EXPECT_EQ(0, value);
    }

    // Start at 40 with the stop 20 later, then 5 on: the segment starts at 45.
    ComPtr<IMediaSeeking> audio = PinSeeking(&rig, L"2");
    ComPtr<IMediaSeeking> video = PinSeeking(&rig, L"1");
    LONGLONG start = 40, stop = 20;
    ASSERT_EQ(S_OK, audio->SetPositions(&start, AM_SEEKING_AbsolutePositioning, &stop,
                                        AM_SEEKING_IncrementalPositioning));
    start = 5;
    ASSERT_EQ(S_OK, audio->SetPositions(&start, AM_SEEKING_RelativePositioning, nullptr, 0));
    LONGLONG current = -1;
    ASSERT_EQ(S_OK, audio->GetPositions(&current, &stop));
    EXPECT_EQ(45, current);
    EXPECT_EQ(60, stop);
    start = 45;
    stop = 60;
    ASSERT_EQ(S_OK, video->SetPositions(&start, AM_SEEKING_AbsolutePositioning, &stop,
                                        AM_SEEKING_AbsolutePositioning));
    LONGLONG media = -1;
    ASSERT_EQ(S_OK, video->ConvertTimeFormat(&media, &TIME_FORMAT_MEDIA_TIME, 60, nullptr));
    ASSERT_EQ(60 * PictureStep, media);
    ASSERT_TRUE(SUCCEEDED(rig.Control->Run()));
    ASSERT_TRUE(rig.WaitForComplete(60000));
    EXPECT_TRUE(PicturesInOrder(rig.VideoLog.Snapshot(), 45, total - 45, PictureStep));

    // Not while paused or running; the format in use may be named again.
    ASSERT_EQ(S_OK, ChangeState(rig.Control.Get(), State_Paused));
    EXPECT_EQ(VFW_E_WRONG_STATE, video->SetTimeFormat(&TIME_FORMAT_MEDIA_TIME));
    EXPECT_EQ(S_OK, video->SetTimeFormat(&TIME_FORMAT_FRAME));
    EXPECT_EQ(S_OK, video->IsUsingTimeFormat(&TIME_FORMAT_FRAME));
    ASSERT_EQ(S_OK, ChangeState(rig.Control.Get(), State_Stopped));
    EXPECT_EQ(S_OK, video->SetTimeFormat(&TIME_FORMAT_MEDIA_TIME));
    EXPECT_EQ(S_OK, video->GetDuration(&media));
    EXPECT_EQ(10 * Second, media);
}

// Applications seek in pictures through the graph manager, which asks the
// renderers, which ask the source's pins. Wine's graph manager takes media
// time alone (it refuses other formats without asking anyone); there the
// renderers are asked as the graph manager asks them elsewhere.
TEST_F(FilterSeekTest, TheGraphSeeksInPicturesThroughTheRenderers) {
    CGraphRig rig;
    ASSERT_EQ(S_OK, rig.Build(path, RigOptions()));
    std::vector<ComPtr<IMediaSeeking>> seekers;
    if (rig.Seeking->SetTimeFormat(&TIME_FORMAT_FRAME) == S_OK) {
        seekers.push_back(rig.Seeking);
    } else {
        for (const wchar_t* name : {L"Audio renderer", L"Video renderer"}) {
            ComPtr<IBaseFilter> renderer;
            ComPtr<IMediaSeeking> seeking;
            ASSERT_EQ(S_OK, rig.Graph->FindFilterByName(name, &renderer));
            ASSERT_EQ(S_OK, renderer.As(&seeking));
            ASSERT_EQ(S_OK, seeking->IsFormatSupported(&TIME_FORMAT_FRAME));
            ASSERT_EQ(S_OK, seeking->SetTimeFormat(&TIME_FORMAT_FRAME));
            seekers.push_back(seeking);
        }
    }
    for (const ComPtr<IMediaSeeking>& seeking : seekers) {
        LONGLONG value = -1;
        EXPECT_EQ(S_OK, seeking->GetDuration(&value));
        EXPECT_EQ(static_cast<LONGLONG>(plan.FrameCount()), value);
    }
    ASSERT_EQ(S_OK, ChangeState(rig.Control.Get(), State_Paused));
    ASSERT_EQ(0, FirstPictureAfter(rig.VideoLog, 0));
    for (LONGLONG frame : {LONGLONG{123}, LONGLONG{122}, LONGLONG{7}}) {
        const size_t from = rig.VideoLog.Count();
        for (const ComPtr<IMediaSeeking>& seeking : seekers) {
            LONGLONG position = frame;
            ASSERT_EQ(S_OK, seeking->SetPositions(&position, AM_SEEKING_AbsolutePositioning, nullptr, 0));
        }
        EXPECT_EQ(frame, FirstPictureAfter(rig.VideoLog, from));
    }
    ASSERT_EQ(S_OK, ChangeState(rig.Control.Get(), State_Stopped));
}

TEST_F(FilterSeekTest, SeekWhileRunningRestartsBothPinsAtTheNewStart) {
    CGraphRig rig;
    RigOptions options;
    options.Clock = true;
    ASSERT_EQ(S_OK, rig.Build(path, options));
    ASSERT_TRUE(SUCCEEDED(rig.Control->Run()));
    ASSERT_TRUE(rig.VideoLog.WaitForCount(10, 20000));
    const size_t videoFrom = rig.VideoLog.Count();
    const size_t audioFrom = rig.AudioLog.Count();
    ASSERT_EQ(S_OK, SeekTo(&rig, 6 * Second));
    EXPECT_TRUE(PicturesInOrder(Take(rig.VideoLog, videoFrom, 20), 150, 20, PictureStep));
    const auto sound = Take(rig.AudioLog, audioFrom, 16);
    EXPECT_TRUE(SoundInOrder(sound, ToneInPicture(sound, 6 * Second), 16, SoundBytes, SoundStep));
    ASSERT_EQ(S_OK, ChangeState(rig.Control.Get(), State_Stopped));
}

TEST_F(FilterSeekTest, SeekWhilePausedStartsThereOnRun) {
    CGraphRig rig;
    RigOptions options;
    options.Clock = true;
    ASSERT_EQ(S_OK, rig.Build(path, options));
    ASSERT_EQ(S_OK, ChangeState(rig.Control.Get(), State_Paused));
    ASSERT_TRUE(rig.VideoLog.WaitForCount(1, 20000));
    const size_t videoFrom = rig.VideoLog.Count();
    const size_t audioFrom = rig.AudioLog.Count();
    ASSERT_EQ(S_OK, SeekTo(&rig, 3 * Second));
    ASSERT_TRUE(SUCCEEDED(rig.Control->Run()));
    EXPECT_TRUE(PicturesInOrder(Take(rig.VideoLog, videoFrom, 20), 75, 20, PictureStep));
    const auto sound = Take(rig.AudioLog, audioFrom, 16);
    EXPECT_TRUE(SoundInOrder(sound, ToneInPicture(sound, 3 * Second), 16, SoundBytes, SoundStep));
    ASSERT_EQ(S_OK, ChangeState(rig.Control.Get(), State_Stopped));
}

TEST_F(FilterSeekTest, SeekWhileStoppedPlaysFromThereToTheEnd) {
    CGraphRig rig;
    ASSERT_EQ(S_OK, rig.Build(path, RigOptions()));
    ASSERT_EQ(S_OK, SeekTo(&rig, 2 * Second));
    ASSERT_TRUE(SUCCEEDED(rig.Control->Run()));
    ASSERT_TRUE(rig.WaitForComplete(120000));
    EXPECT_TRUE(PicturesInOrder(rig.VideoLog.Snapshot(), 50, plan.FrameCount() - 50, PictureStep));
    const auto sound = rig.AudioLog.Snapshot();
    const int64_t tone = ToneInPicture(sound, 2 * Second);
    EXPECT_TRUE(SoundInOrder(sound, tone, (plan.SoundSamples() - tone) * 2 / SoundBytes, SoundBytes, SoundStep));
}

TEST_F(FilterSeekTest, SeekWithTheVideoPinAloneMovesTheFile) {
    CGraphRig rig;
    RigOptions options;
    options.Clock = true;
    options.Audio = false;
    ASSERT_EQ(S_OK, rig.Build(path, options));
    ASSERT_TRUE(SUCCEEDED(rig.Control->Run()));
    ASSERT_TRUE(rig.VideoLog.WaitForCount(10, 20000));
    const size_t from = rig.VideoLog.Count();
    ASSERT_EQ(S_OK, SeekTo(&rig, 5 * Second));
    EXPECT_TRUE(PicturesInOrder(Take(rig.VideoLog, from, 20), 125, 20, PictureStep));
    ASSERT_EQ(S_OK, ChangeState(rig.Control.Get(), State_Stopped));
}

TEST_F(FilterSeekTest, StartAtOrPastTheDurationChangesNothing) {
    CGraphRig rig;
    RigOptions options;
    options.Clock = true;
    ASSERT_EQ(S_OK, rig.Build(path, options));
    ASSERT_TRUE(SUCCEEDED(rig.Control->Run()));
    ASSERT_TRUE(rig.VideoLog.WaitForCount(5, 20000));
    LONGLONG duration = 0;
    ASSERT_EQ(S_OK, rig.Seeking->GetDuration(&duration));
    EXPECT_EQ(10 * Second, duration);
    SeekTo(&rig, duration);
    SeekTo(&rig, duration + Second);
    const size_t now = rig.VideoLog.Count();
    ASSERT_TRUE(rig.VideoLog.WaitForCount(now + 10, 20000));
    const auto pictures = rig.VideoLog.Snapshot();
    EXPECT_TRUE(PicturesInOrder(pictures, 0, pictures.size(), PictureStep)) << "the stream was disturbed";
    ASSERT_EQ(S_OK, ChangeState(rig.Control.Get(), State_Stopped));
}

TEST_F(FilterSeekTest, CutShortRecordingPlaysWhatItHoldsAndRefusesTheRest) {
    plan.KeepPercent = 50;
    const std::wstring cut = Recording(L"cut.kxr", plan);
    {
        CGraphRig rig;
        ASSERT_EQ(S_OK, rig.Build(cut, RigOptions()));
        ASSERT_TRUE(SUCCEEDED(rig.Control->Run()));
        ASSERT_TRUE(rig.WaitForComplete(60000)) << "playing what the file holds never ended";
        const auto pictures = rig.VideoLog.Snapshot();
        EXPECT_GT(pictures.size(), 50u);
        EXPECT_LT(pictures.size(), plan.FrameCount());
        EXPECT_TRUE(PicturesInOrder(pictures, 0, pictures.size(), PictureStep));
    }
    // The header promises ten seconds; eight is beyond what is there.
    CGraphRig rig;
    ASSERT_EQ(S_OK, rig.Build(cut, RigOptions()));
    LONGLONG duration = 0;
    ASSERT_EQ(S_OK, rig.Seeking->GetDuration(&duration));
    ASSERT_GT(duration, 8 * Second);
    EXPECT_TRUE(FAILED(SeekTo(&rig, 8 * Second))) << "a move the library refused was reported as done";
    ASSERT_TRUE(SUCCEEDED(rig.Control->Run()));
    EXPECT_TRUE(rig.WaitForComplete(30000)) << "the graph never ended after a refused seek";
    ASSERT_EQ(S_OK, ChangeState(rig.Control.Get(), State_Stopped));
}

TEST_F(FilterSeekTest, RatesChangeTheStamps) {
    for (double rate : {2.0, 0.5}) {
        CGraphRig rig;
        ASSERT_EQ(S_OK, rig.Build(path, RigOptions()));
        // Wine's graph accepts a rate without passing it upstream, so the rate
        // goes to each pin's own seeking interface, as an application may do.
        for (const wchar_t* id : {L"1", L"2"}) {
            ComPtr<IPin> pin;
            ASSERT_EQ(S_OK, rig.Source->FindPin(id, &pin));
            ComPtr<IMediaSeeking> seeking;
            ASSERT_EQ(S_OK, pin.As(&seeking));
            ASSERT_EQ(S_OK, seeking->SetRate(rate));
            double reported = 0;
            ASSERT_EQ(S_OK, seeking->GetRate(&reported));
            // The picture pin paces its samples without changing the rate it reports.
            EXPECT_EQ(id[0] == L'1' ? 1.0 : rate, reported);
        }
        ASSERT_TRUE(SUCCEEDED(rig.Control->Run()));
        ASSERT_TRUE(rig.WaitForComplete(120000)) << "rate " << rate;
        EXPECT_TRUE(PicturesInOrder(rig.VideoLog.Snapshot(), 0, plan.FrameCount(),
                                    static_cast<REFERENCE_TIME>(PictureStep / rate)))
            << "rate " << rate;
        EXPECT_TRUE(SoundInOrder(rig.AudioLog.Snapshot(), 0, plan.SoundSamples() * 2 / SoundBytes, SoundBytes,
                                 static_cast<REFERENCE_TIME>(SoundStep / rate)))
            << "rate " << rate;
    }
}

