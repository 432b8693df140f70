// Playback in Wine's graphs: every picture once, in order and whole, the
// sound complete and in order, the stamps of 25 pictures and 20 sound samples
// a second, and end of stream once both streams are done.
#include "DeliveryChecks.h"
#include "FilterTest.h"
#include "GraphRig.h"

namespace {

constexpr REFERENCE_TIME PictureStep = 400000;
constexpr REFERENCE_TIME SoundStep = 500000;
constexpr long SoundBytes = 800;

class FilterPlaybackTest : public FilterTest {
protected:
    // Builds, runs to EC_COMPLETE and stops; fails the test on any step.
    void PlayToEnd(CGraphRig* rig, const std::wstring& path, const RigOptions& options) {
        ASSERT_EQ(S_OK, rig->Build(path, options));
        ASSERT_TRUE(SUCCEEDED(rig->Control->Run()));
        ASSERT_TRUE(rig->WaitForComplete(120000)) << "no EC_COMPLETE within 120 s, abort code " << rig->LastAbortCode();
        rig->DrainEvents();
        EXPECT_EQ(1, rig->CompleteEvents());
        ASSERT_EQ(S_OK, ChangeState(rig->Control.Get(), State_Stopped));
    }
};

}  // namespace

TEST_F(FilterPlaybackTest, UnclockedDeliversEveryPictureAndAllTheSound) {
    RecordingPlan plan;
    plan.DurationMs = 6000;
    const std::wstring path = Recording(L"cif.kxr", plan);
    CGraphRig rig;
    PlayToEnd(&rig, path, RigOptions());
    EXPECT_TRUE(PicturesInOrder(rig.VideoLog.Snapshot(), 0, plan.FrameCount(), PictureStep));
    EXPECT_TRUE(SoundInOrder(rig.AudioLog.Snapshot(), 0, plan.SoundSamples() * 2 / SoundBytes, SoundBytes, SoundStep));
}

TEST_F(FilterPlaybackTest, RecordingWithoutSoundEndsTheAudioStreamAtOnce) {
    RecordingPlan plan;
    plan.Sound = false;
    const std::wstring path = Recording(L"silent.kxr", plan);
    CGraphRig rig;
    PlayToEnd(&rig, path, RigOptions());
    EXPECT_TRUE(PicturesInOrder(rig.VideoLog.Snapshot(), 0, plan.FrameCount(), PictureStep));
    EXPECT_EQ(0u, rig.AudioLog.Count());
}

TEST_F(FilterPlaybackTest, SizeChangeMidFileEndsThePicturesAtTheChange) {
    RecordingPlan plan;
    plan.ChangeAtFrame = 60;
    plan.ChangedWidth = 176;
    plan.ChangedHeight = 144;
    const std::wstring path = Recording(L"change.kxr", plan);
    CGraphRig rig;
    PlayToEnd(&rig, path, RigOptions());
    EXPECT_TRUE(PicturesInOrder(rig.VideoLog.Snapshot(), 0, 60, PictureStep));
    const auto sound = rig.AudioLog.Snapshot();
    EXPECT_TRUE(SoundInOrder(sound, 0, sound.size(), SoundBytes, SoundStep));
}

TEST_F(FilterPlaybackTest, FullHdPicturesArriveWhole) {
    RecordingPlan plan;
    plan.Width = 1920;
    plan.Height = 1080;
    plan.DurationMs = 3000;
    const std::wstring path = Recording(L"hd.kxr", plan);
    CGraphRig rig;
    RigOptions options;
    options.Width = 1920;
    options.Height = 1080;
    PlayToEnd(&rig, path, options);
    EXPECT_TRUE(PicturesInOrder(rig.VideoLog.Snapshot(), 0, plan.FrameCount(), PictureStep));
    EXPECT_TRUE(SoundInOrder(rig.AudioLog.Snapshot(), 0, plan.SoundSamples() * 2 / SoundBytes, SoundBytes, SoundStep));
}

TEST_F(FilterPlaybackTest, GraphClockPacesACompleteDelivery) {
    RecordingPlan plan;
    plan.DurationMs = 2000;
    const std::wstring path = Recording(L"clocked.kxr", plan);
    CGraphRig rig;
    RigOptions options;
    options.Clock = true;
    PlayToEnd(&rig, path, options);
    EXPECT_TRUE(PicturesInOrder(rig.VideoLog.Snapshot(), 0, plan.FrameCount(), PictureStep));
    EXPECT_TRUE(SoundInOrder(rig.AudioLog.Snapshot(), 0, plan.SoundSamples() * 2 / SoundBytes, SoundBytes, SoundStep));
}

TEST_F(FilterPlaybackTest, TwoFiltersPlayAtTheSameTime) {
    RecordingPlan plan;
    const std::wstring first = Recording(L"one.kxr", plan);
    plan.Width = 320;
    plan.Height = 240;
    const std::wstring second = Recording(L"two.kxr", plan);
    CGraphRig one, two;
    RigOptions options;
    ASSERT_EQ(S_OK, one.Build(first, options));
    options.Width = 320;
    options.Height = 240;
    ASSERT_EQ(S_OK, two.Build(second, options));
    ASSERT_TRUE(SUCCEEDED(one.Control->Run()));
    ASSERT_TRUE(SUCCEEDED(two.Control->Run()));
    ASSERT_TRUE(one.WaitForComplete(120000));
    ASSERT_TRUE(two.WaitForComplete(120000));
    EXPECT_TRUE(PicturesInOrder(one.VideoLog.Snapshot(), 0, plan.FrameCount(), PictureStep));
    EXPECT_TRUE(PicturesInOrder(two.VideoLog.Snapshot(), 0, plan.FrameCount(), PictureStep));
    EXPECT_TRUE(SoundInOrder(one.AudioLog.Snapshot(), 0, plan.SoundSamples() * 2 / SoundBytes, SoundBytes, SoundStep));
    EXPECT_TRUE(SoundInOrder(two.AudioLog.Snapshot(), 0, plan.SoundSamples() * 2 / SoundBytes, SoundBytes, SoundStep));
}

TEST_F(FilterPlaybackTest, PauseRunStopCyclesKeepDelivering) {
    RecordingPlan plan;
    plan.DurationMs = 8000;
    const std::wstring path = Recording(L"cycles.kxr", plan);
    CGraphRig rig;
    RigOptions options;
    options.Clock = true;
    ASSERT_EQ(S_OK, rig.Build(path, options));
    for (int round = 0; round < 3; ++round) {
        const size_t before = rig.VideoLog.Count();
        ASSERT_EQ(S_OK, ChangeState(rig.Control.Get(), State_Paused)) << "round " << round;
        ASSERT_EQ(S_OK, ChangeState(rig.Control.Get(), State_Running)) << "round " << round;
        ASSERT_TRUE(rig.VideoLog.WaitForCount(before + 5, 10000)) << "delivery did not resume in round " << round;
        ASSERT_EQ(S_OK, ChangeState(rig.Control.Get(), State_Paused));
        ASSERT_EQ(S_OK, ChangeState(rig.Control.Get(), State_Running));
        ASSERT_EQ(S_OK, ChangeState(rig.Control.Get(), State_Stopped));
    }
    // Each start begins a new stretch whose pictures follow on without repeats.
    const auto pictures = rig.VideoLog.Snapshot();
    for (size_t i = 1; i < pictures.size(); ++i) {
        ASSERT_GE(pictures[i].Frame, 0) << "picture " << i << " is not whole";
        if (!pictures[i].Discontinuity) {
            EXPECT_EQ(pictures[i - 1].Frame + 1, pictures[i].Frame) << "picture " << i;
        }
    }
}

TEST_F(FilterPlaybackTest, StopWhileSamplesAreHeldDownstreamDoesNotHang) {
    RecordingPlan plan;
    const std::wstring path = Recording(L"held.kxr", plan);
    CGraphRig rig;
    ASSERT_EQ(S_OK, rig.Build(path, RigOptions()));
    rig.VideoLog.Hold();
    rig.AudioLog.Hold();
    ASSERT_TRUE(SUCCEEDED(rig.Control->Run()));
    ASSERT_TRUE(rig.VideoLog.WaitForCount(2, 10000));
    ASSERT_TRUE(rig.AudioLog.WaitForCount(4, 10000));
    ASSERT_EQ(S_OK, ChangeState(rig.Control.Get(), State_Stopped));
    rig.VideoLog.ReleaseHold();
    rig.AudioLog.ReleaseHold();
    const size_t before = rig.VideoLog.Count();
    ASSERT_TRUE(SUCCEEDED(rig.Control->Run()));
    EXPECT_TRUE(rig.VideoLog.WaitForCount(before + 5, 10000)) << "delivery did not resume";
    ASSERT_EQ(S_OK, ChangeState(rig.Control.Get(), State_Stopped));
}
