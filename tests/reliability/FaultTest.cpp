// Faults around the module: downstream pins and allocators that refuse, fail
// or hold, a graph released while it runs, stops and seeks that cross, and
// rate changes while running. Nothing may hang or crash, and every object of
// the module must be gone when the test has let go of it.
#include "Bounded.h"
#include "FaultySink.h"
#include "GraphRig.h"
#include "ModuleFixture.h"
#include "ModuleSetup.h"

#include <cmath>
#include <limits>
#include <mutex>

namespace {

constexpr DWORD StateLimitMs = 10000;
constexpr DWORD DataLimitMs = 20000;

class FaultTest : public ModuleTest {
protected:
    void TearDown() override {
        Audio.Reset();
        Video.Reset();
        Filter.Reset();
        ModuleTest::TearDown();
    }

    void LoadFilter(uint32_t durationMs) {
        RecordingPlan plan;
        plan.DurationMs = durationMs;
        ASSERT_EQ(S_OK, LoadFile(Recording(L"fault.kxr", plan), &Filter));
        ASSERT_EQ(S_OK, Filter->FindPin(L"1", &Video));
        ASSERT_EQ(S_OK, Filter->FindPin(L"2", &Audio));
    }

    void Start() {
        IBaseFilter* filter = Filter.Get();
        ASSERT_TRUE(RunBounded([filter] { filter->Pause(); filter->Run(0); }, StateLimitMs))
            << "Pause and Run did not return within " << StateLimitMs << " ms";
    }

    void Stop() {
        IBaseFilter* filter = Filter.Get();
        ASSERT_TRUE(RunBounded([filter] { filter->Stop(); }, StateLimitMs))
            << "Stop did not return within " << StateLimitMs << " ms";
    }

    void Disconnect(CFaultySink* sink) {
        Video->Disconnect();
        sink->Disconnect();
    }

    ComPtr<IBaseFilter> Filter;
    ComPtr<IPin> Video;
    ComPtr<IPin> Audio;
};

TEST_F(FaultTest, RefusedSamplesEndDeliveryUntilTheNextStartAndTheSoundPlaysOn) {
    const SinkFault faults[] = {SinkFault::RefuseSamples, SinkFault::FailReceive};
    // Longer than the picture queue holds: unread pictures would stall the sound.
    constexpr uint32_t DurationMs = 6000;
    for (SinkFault fault : faults) {
        LoadFilter(DurationMs);
        SinkHandle sink = MakeSink(fault);
        SinkHandle sound = MakeSink(SinkFault::None);
        ASSERT_EQ(S_OK, Video->Connect(sink.get(), nullptr));
        ASSERT_EQ(S_OK, Audio->Connect(sound.get(), nullptr));
        ComPtr<IMediaSeeking> seeking;
        ASSERT_EQ(S_OK, Video.As(&seeking));
        for (int start = 1; start <= 3; ++start) {
            // The sound played the file to its end; each start begins it again.
            LONGLONG zero = 0;
            ASSERT_EQ(S_OK, seeking->SetPositions(&zero, AM_SEEKING_AbsolutePositioning, nullptr, 0));
            ASSERT_NO_FATAL_FAILURE(Start());
            CFaultySink* raw = sink.get();
            EXPECT_TRUE(raw->WaitFor([raw, start] { return raw->Receives >= start; }, DataLimitMs))
                << "start " << start << " delivered nothing to a sink that refused the previous sample";
            CFaultySink* ear = sound.get();
            EXPECT_TRUE(ear->WaitFor([ear, start] { return ear->EndOfStreams >= start; }, DataLimitMs))
                << "the sound stalled behind the refused pictures";
            {
                std::lock_guard<std::mutex> hold(ear->Mutex);
                EXPECT_EQ(static_cast<LONG>(start * DurationMs * 16 / 800), ear->Receives) << "sound lost or made up";
            }
            ASSERT_NO_FATAL_FAILURE(Stop());
        }
        std::lock_guard<std::mutex> hold(sink->Mutex);
        EXPECT_EQ(3, sink->Receives) << "delivery went on after a refused sample";
        EXPECT_EQ(0, sink->BadSamples);
        Disconnect(sink.get());
        Audio->Disconnect();
        sound->Disconnect();
        Filter.Reset();
        Video.Reset();
        Audio.Reset();
    }
}

TEST_F(FaultTest, HeldSamplesDoNotBlockStopAndDeliveryResumesOnceGivenBack) {
    LoadFilter(4000);
    SinkHandle sink = MakeSink(SinkFault::HoldSamples);
    ASSERT_EQ(S_OK, Audio->Connect(sink.get(), nullptr));
    ASSERT_NO_FATAL_FAILURE(Start());
    CFaultySink* raw = sink.get();
    ASSERT_TRUE(raw->WaitFor([raw] { return raw->Receives >= 1; }, DataLimitMs)) << "no sample arrived";
    // Every buffer of the allocator is held now or soon: the worker waits
    // for one that never comes back until Stop decommits the allocator.
    ASSERT_NO_FATAL_FAILURE(Stop());
    LONG before = 0;
    {
        std::lock_guard<std::mutex> hold(sink->Mutex);
        before = sink->Receives;
    }
    EXPECT_EQ(static_cast<size_t>(before), sink->HeldCount());
    sink->ReleaseHeldSamples();
    ASSERT_NO_FATAL_FAILURE(Start());
    EXPECT_TRUE(raw->WaitFor([raw, before] { return raw->Receives > before; }, DataLimitMs))
        << "no delivery after the held samples were given back";
    ASSERT_NO_FATAL_FAILURE(Stop());
    sink->ReleaseHeldSamples();
    Audio->Disconnect();
    sink->Disconnect();
}

TEST_F(FaultTest, RefusedAllocatorsFailTheConnectionAndLeaveNothingConnected) {
    const SinkFault faults[] = {SinkFault::RefuseAllocators, SinkFault::FailNotifyAllocator};
    for (SinkFault fault : faults) {
        LoadFilter(1000);
        SinkHandle sink = MakeSink(fault);
        EXPECT_TRUE(FAILED(Video->Connect(sink.get(), nullptr))) << "a connection without an allocator succeeded";
        ComPtr<IPin> peer;
        EXPECT_EQ(VFW_E_NOT_CONNECTED, Video->ConnectedTo(&peer));
        IPin* sinkPeer = nullptr;
        EXPECT_EQ(VFW_E_NOT_CONNECTED, sink->ConnectedTo(&sinkPeer))
            << "the failed connection left the sink holding the pin";
        if (sinkPeer) sinkPeer->Release();
        sink->Disconnect();
        // The filter still runs and stops with the pin unconnected.
        ASSERT_NO_FATAL_FAILURE(Start());
        ASSERT_NO_FATAL_FAILURE(Stop());
        Filter.Reset();
        Video.Reset();
        Audio.Reset();
    }
}

TEST_F(FaultTest, AllocatorThatFailsGetBufferDeliversNothingAndStops) {
    LoadFilter(1000);
    SinkHandle sink = MakeSink(SinkFault::FailGetBuffer);
    ASSERT_EQ(S_OK, Video->Connect(sink.get(), nullptr));
    for (int round = 0; round < 3; ++round) {
        ASSERT_NO_FATAL_FAILURE(Start());
        ASSERT_NO_FATAL_FAILURE(Stop());
    }
    std::lock_guard<std::mutex> hold(sink->Mutex);
    EXPECT_EQ(0, sink->Receives);
    EXPECT_EQ(0, sink->EndOfStreams) << "a failing allocator is not the end of the stream";
    Video->Disconnect();
    sink->Disconnect();
}

TEST_F(FaultTest, PauseThatCannotCommitOneAllocatorFailsAndTakesTheOtherPinBack) {
    LoadFilter(1000);
    SinkHandle video = MakeSink(SinkFault::None);
    SinkHandle audio = MakeSink(SinkFault::FailCommit);
    ASSERT_EQ(S_OK, Video->Connect(video.get(), nullptr));
    ASSERT_EQ(S_OK, Audio->Connect(audio.get(), nullptr));
    for (int round = 0; round < 2; ++round) {
        IBaseFilter* filter = Filter.Get();
        HRESULT paused = S_OK;
        ASSERT_TRUE(RunBounded([filter, &paused] { paused = filter->Pause(); }, StateLimitMs))
            << "Pause did not return within " << StateLimitMs << " ms";
        EXPECT_EQ(E_OUTOFMEMORY, paused);
        FILTER_STATE state = State_Running;
        EXPECT_EQ(S_OK, Filter->GetState(0, &state));
        EXPECT_EQ(State_Stopped, state);
        ASSERT_NO_FATAL_FAILURE(Stop());
    }
    {
        std::lock_guard<std::mutex> hold(video->Mutex);
        EXPECT_EQ(0, video->Receives) << "a pin of a filter that failed to pause sent pictures";
    }
    Video->Disconnect();
    video->Disconnect();
    Audio->Disconnect();
    audio->Disconnect();
}

TEST_F(FaultTest, GraphReleasedWhileRunningFreesTheModule) {
    RecordingPlan plan;
    plan.DurationMs = 6000;
    const std::wstring path = Recording(L"running.kxr", plan);
    {
        CGraphRig rig;
        RigOptions options;
        options.Clock = true;
        ASSERT_EQ(S_OK, rig.Build(path, options));
        ASSERT_TRUE(SUCCEEDED(rig.Control->Run()));
        ASSERT_TRUE(rig.VideoLog.WaitForCount(3, DataLimitMs)) << "the graph delivered no pictures";
        ASSERT_TRUE(rig.AudioLog.WaitForCount(3, DataLimitMs)) << "the graph delivered no sound";
        rig.Source.Reset();
        rig.Events.Reset();
        rig.Seeking.Reset();
        rig.Control.Reset();
        ASSERT_TRUE(RunBounded([&rig] { rig.Graph.Reset(); }, StateLimitMs))
            << "releasing the running graph did not return within " << StateLimitMs << " ms";
    }
    EXPECT_EQ(S_OK, ModuleCanUnloadNow()) << "an object of the module is still alive";
    EXPECT_TRUE(ModuleFreedWhenUnused()) << "CoFreeUnusedLibrariesEx left KXVDSrc.ax loaded";
}

TEST_F(FaultTest, StopsAndSeeksCrossingEachOtherNeitherHangNorBreakPlayback) {
    RecordingPlan plan;
    plan.DurationMs = 4000;
    const std::wstring path = Recording(L"crossing.kxr", plan);
    CGraphRig rig;
    ASSERT_EQ(S_OK, rig.Build(path, RigOptions()));
    IMediaSeeking* seeking = rig.Seeking.Get();
    IMediaControl* control = rig.Control.Get();
    for (int round = 0; round < 6; ++round) {
        ASSERT_TRUE(RunBounded([control] { control->Run(); }, StateLimitMs)) << "Run hung in round " << round;
        // A seek on one thread while the graph stops on another, and the
        // other way round.
        auto seeks = [seeking, round] {
            for (int i = 0; i < 3; ++i) {
                LONGLONG start = static_cast<LONGLONG>((round * 3 + i) % 7) * 5000000;
                seeking->SetPositions(&start, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning);
            }
        };
        const bool stopped = RunTogether({seeks, [control] { control->Stop(); }}, 3 * StateLimitMs);
        ASSERT_TRUE(stopped) << "Stop during seeks, or the seeks, hung in round " << round;
        ASSERT_TRUE(RunBounded([seeking] {
            LONGLONG start = 5000000;
            seeking->SetPositions(&start, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning);
        }, 3 * StateLimitMs)) << "a seek while stopped hung in round " << round;
    }
    // A seek while stopped takes effect on the next run.
    LONGLONG start = 20000000;
    ASSERT_TRUE(SUCCEEDED(seeking->SetPositions(&start, AM_SEEKING_AbsolutePositioning, nullptr,
                                                AM_SEEKING_NoPositioning)));
    rig.DrainEvents();
    const size_t logged = rig.VideoLog.Count();
    ASSERT_TRUE(SUCCEEDED(control->Run()));
    ASSERT_TRUE(rig.WaitForComplete(60000)) << "playback after the crossings did not complete";
    const std::vector<DeliveredSample> samples = rig.VideoLog.Snapshot();
    ASSERT_GT(samples.size(), logged) << "nothing was delivered after the last seek";
    EXPECT_GE(samples[logged].Frame, 45) << "the run after a seek while stopped began before 2 s";
    rig.Control->Stop();
}

TEST_F(FaultTest, RateChangesWhileRunningRefuseNonsenseAndKeepPlaying) {
    RecordingPlan plan;
    plan.DurationMs = 2000;
    const std::wstring path = Recording(L"rates.kxr", plan);
    CGraphRig rig;
    ASSERT_EQ(S_OK, rig.Build(path, RigOptions()));
    ComPtr<IPin> pins[2];
    ASSERT_EQ(S_OK, rig.Source->FindPin(L"1", &pins[0]));
    ASSERT_EQ(S_OK, rig.Source->FindPin(L"2", &pins[1]));
    ASSERT_TRUE(SUCCEEDED(rig.Control->Run()));
    ASSERT_TRUE(rig.VideoLog.WaitForCount(2, DataLimitMs));
    const double refused[] = {0.1, 0.0, -1.0, std::numeric_limits<double>::quiet_NaN(),
                              std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()};
    const double taken[] = {2.0, 0.5, 1.0};
    for (ComPtr<IPin>& pin : pins) {
        ComPtr<IMediaSeeking> seeking;
        ASSERT_EQ(S_OK, pin.As(&seeking));
        for (double rate : refused) EXPECT_EQ(E_INVALIDARG, seeking->SetRate(rate)) << "rate " << rate;
        for (double rate : taken) EXPECT_EQ(S_OK, seeking->SetRate(rate)) << "rate " << rate;
    }
    ASSERT_TRUE(rig.WaitForComplete(60000)) << "playback did not complete after the rate changes";
    for (const DeliveredSample& sample : rig.VideoLog.Snapshot()) {
        ASSERT_TRUE(sample.HasTime);
        EXPECT_GE(sample.Start, 0) << "a sample stamped before the segment start";
        EXPECT_GE(sample.Stop, sample.Start);
    }
    rig.Control->Stop();
}

}  // namespace
