// Seeking through the graph's IMediaSeeking, as applications do: the file
// moves whichever pins are connected, the new segment starts with the picture
// and the sound at the new start time and holds nothing from before it.
#include "DeliveryChecks.h"
#include "FilterTest.h"
#include "GraphRig.h"

namespace {

constexpr REFERENCE_TIME Second = 10000000;
constexpr REFERENCE_TIME PictureStep = 400000;
constexpr REFERENCE_TIME SoundStep = 500000;
constexpr long SoundBytes = 800;

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

    RecordingPlan plan;
    std::wstring path;
};

}  // namespace

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
    EXPECT_TRUE(SoundInOrder(Take(rig.AudioLog, audioFrom, 16), 6 * 8000, 16, SoundBytes, SoundStep));
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
    EXPECT_TRUE(SoundInOrder(Take(rig.AudioLog, audioFrom, 16), 3 * 8000, 16, SoundBytes, SoundStep));
    ASSERT_EQ(S_OK, ChangeState(rig.Control.Get(), State_Stopped));
}

TEST_F(FilterSeekTest, SeekWhileStoppedPlaysFromThereToTheEnd) {
    CGraphRig rig;
    ASSERT_EQ(S_OK, rig.Build(path, RigOptions()));
    ASSERT_EQ(S_OK, SeekTo(&rig, 2 * Second));
    ASSERT_TRUE(SUCCEEDED(rig.Control->Run()));
    ASSERT_TRUE(rig.WaitForComplete(120000));
    EXPECT_TRUE(PicturesInOrder(rig.VideoLog.Snapshot(), 50, plan.FrameCount() - 50, PictureStep));
    EXPECT_TRUE(SoundInOrder(rig.AudioLog.Snapshot(), 2 * 8000, (plan.SoundSamples() - 2 * 8000) * 2 / SoundBytes,
                             SoundBytes, SoundStep));
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
