// Playback in Wine's graphs: every picture once, in order and whole, the
// sound complete and in order, the stamps of 25 pictures and 20 sound samples
// a second, pictures in their places at other frame rates and whatever the
// quality reports, and end of stream once both streams are done.
#include "DeliveryChecks.h"
#include "FilterTest.h"
#include "GraphRig.h"
#include "SinkPin.h"

#include "common/KXVDSrcClsid.h"

#include <amvideo.h>

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

TEST_F(FilterPlaybackTest, QualityReportsNeverMoveTheTimeline) {
    RecordingPlan plan;
    const std::wstring path = Recording(L"quality.kxr", plan);
    const size_t sounds = plan.SoundSamples() * 2 / SoundBytes;
    // A renderer's ordinary jitter (5 ms late, then 5 ms early), then lateness on every sample.
    for (bool alternate : {true, false}) {
        ComPtr<IBaseFilter> filter;
        ASSERT_EQ(S_OK, CoCreateInstance(CLSID_KXVDSource, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&filter)));
        ComPtr<IFileSourceFilter> source;
        ASSERT_EQ(S_OK, filter.As(&source));
        ASSERT_EQ(S_OK, source->Load(path.c_str(), nullptr));
        ComPtr<IPin> video, audio;
        ASSERT_EQ(S_OK, filter->FindPin(L"1", &video));
        ASSERT_EQ(S_OK, filter->FindPin(L"2", &audio));
        CSampleLog videoLog(CSampleLog::Kind::Video, plan.Width, plan.Height);
        CSampleLog audioLog(CSampleLog::Kind::Audio);
        CSinkPin videoSink(&videoLog, 0), audioSink(&audioLog, 0);
        videoSink.ReportLateness(50000, alternate);
        audioSink.ReportLateness(50000, alternate);
        ASSERT_EQ(S_OK, video->Connect(&videoSink, nullptr));
        ASSERT_EQ(S_OK, audio->Connect(&audioSink, nullptr));
        ASSERT_EQ(S_OK, filter->Pause());
        const bool complete = videoLog.WaitForCount(plan.FrameCount(), 60000) && audioLog.WaitForCount(sounds, 60000);
        EXPECT_EQ(S_OK, filter->Stop());
        video->Disconnect();
        videoSink.Disconnect();
        audio->Disconnect();
        audioSink.Disconnect();
        ASSERT_TRUE(complete) << "the recording was not delivered within 60 s";
        auto pictures = videoLog.Snapshot();
        auto sound = audioLog.Snapshot();
        pictures.resize(plan.FrameCount());
        sound.resize(sounds);
        EXPECT_TRUE(PicturesInOrder(pictures, 0, plan.FrameCount(), PictureStep)) << "alternating " << alternate;
        EXPECT_TRUE(SoundInOrder(sound, 0, sounds, SoundBytes, SoundStep)) << "alternating " << alternate;
        EXPECT_EQ(0, videoSink.RefusedReports());
        EXPECT_EQ(0, audioSink.RefusedReports());
    }
}

TEST_F(FilterPlaybackTest, PicturesKeepTheirPlacesAtEveryFrameRate) {
    const struct {
        uint32_t Fps;
        uint32_t FpsDen;
        bool Sound;
        double Rate;
    } cases[] = {{30, 1, true, 1.0}, {25, 2, true, 1.0}, {15, 2, false, 1.0}, {25, 2, true, 3.0}};
    for (const auto& c : cases) {
        RecordingPlan plan;
        plan.Width = 176;
        plan.Height = 144;
        plan.Fps = c.Fps;
        plan.FpsDen = c.FpsDen;
        plan.Sound = c.Sound;
        plan.DurationMs = 20000;
        const std::wstring name = std::to_wstring(c.Fps) + L"-" + std::to_wstring(c.FpsDen) + L"-" +
                                  std::to_wstring(static_cast<int>(c.Rate)) + L".kxr";
        const std::wstring path = Recording(name.c_str(), plan);
        const double period = 1e7 * c.FpsDen / c.Fps;
        CGraphRig rig;
        RigOptions options;
        options.Width = plan.Width;
        options.Height = plan.Height;
        ASSERT_EQ(S_OK, rig.Build(path, options));
        ComPtr<IPin> video;
        ASSERT_EQ(S_OK, rig.Source->FindPin(L"1", &video));
        AM_MEDIA_TYPE type = {};
        ASSERT_EQ(S_OK, video->ConnectionMediaType(&type));
        ASSERT_EQ(sizeof(VIDEOINFOHEADER), type.cbFormat);
        EXPECT_NEAR(period, reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat)->AvgTimePerFrame, 100) << name;
        CoTaskMemFree(type.pbFormat);
        ComPtr<IMediaSeeking> seeking;
        ASSERT_EQ(S_OK, video.As(&seeking));
        ASSERT_EQ(S_OK, seeking->SetRate(c.Rate));
        ASSERT_TRUE(SUCCEEDED(rig.Control->Run()));
        ASSERT_TRUE(rig.WaitForComplete(120000)) << name << ": no EC_COMPLETE within 120 s";
        ASSERT_EQ(S_OK, ChangeState(rig.Control.Get(), State_Stopped));
        EXPECT_TRUE(PicturesInPlace(rig.VideoLog.Snapshot(), plan.FrameCount(), period / c.Rate))
            << name << " at rate " << c.Rate;
    }
}
