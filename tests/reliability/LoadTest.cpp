// Load: two application threads changing state and seeking on one graph at
// random, ten filters alive with four playing, and hundreds of
// create/load/play/release cycles. Afterwards nothing of the module is alive,
// the module unloads, and the process's handles, threads and private memory
// are back within a small margin of where they were after a warm-up.
#include "Bounded.h"
#include "DeliveryChecks.h"
#include "FaultySink.h"
#include "GraphRig.h"
#include "ModuleFixture.h"
#include "ModuleSetup.h"
#include "ProcessUsage.h"
#include "Soak.h"
#include "ThreadDump.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <random>
#include <vector>

namespace {

constexpr DWORD StateLimitMs = 10000;
// What a few hundred cycles may leave behind without it being a leak: the
// platform's own caches (COM's class cache, the heap's free lists).
constexpr DWORD HandleMargin = 16;
constexpr DWORD ThreadMargin = 2;
constexpr SIZE_T MemoryMargin = 6 * 1024 * 1024;
// Wine's graph runs some of its work on the process's thread pool, whose
// idle workers (each with a few MiB of stack and heap) end by themselves a
// few seconds later; the measurement waits for them up to this bound.
constexpr DWORD PassingThreadsLimitMs = 30000;

// Waits, at most timeoutMs, for every thread that is not in known to end.
void WaitForThreadsBeyond(const std::vector<DWORD>& known, DWORD timeoutMs) {
    std::vector<HANDLE> passing;
    for (DWORD id : ProcessThreadIds()) {
        if (std::find(known.begin(), known.end(), id) != known.end()) continue;
        if (HANDLE thread = OpenThread(SYNCHRONIZE, FALSE, id)) passing.push_back(thread);
    }
    if (!passing.empty() && passing.size() <= MAXIMUM_WAIT_OBJECTS) {
        WaitForMultipleObjects(static_cast<DWORD>(passing.size()), passing.data(), TRUE, timeoutMs);
    }
    for (HANDLE thread : passing) CloseHandle(thread);
}

class LoadTest : public ModuleTest {
protected:
    // One cycle: create, load, connect both pins to sinks, run until each has
    // samples, stop, release.
    void Cycle(const std::wstring& path) {
        ComPtr<IBaseFilter> filter;
        ASSERT_EQ(S_OK, LoadFile(path, &filter));
        ComPtr<IPin> video, audio;
        ASSERT_EQ(S_OK, filter->FindPin(L"1", &video));
        ASSERT_EQ(S_OK, filter->FindPin(L"2", &audio));
        SinkHandle videoSink = MakeSink(SinkFault::None);
        SinkHandle audioSink = MakeSink(SinkFault::None);
        ASSERT_EQ(S_OK, video->Connect(videoSink.get(), nullptr));
        ASSERT_EQ(S_OK, audio->Connect(audioSink.get(), nullptr));
        ASSERT_EQ(S_OK, filter->Pause());
        ASSERT_TRUE(SUCCEEDED(filter->Run(0)));
        CFaultySink* v = videoSink.get();
        CFaultySink* a = audioSink.get();
        EXPECT_TRUE(v->WaitFor([v] { return v->Receives > 0; }, 20000)) << "no picture within 20 s";
        EXPECT_TRUE(a->WaitFor([a] { return a->Receives > 0; }, 20000)) << "no sound within 20 s";
        IBaseFilter* raw = filter.Get();
        ASSERT_TRUE(RunBounded([raw] { raw->Stop(); }, StateLimitMs)) << "Stop did not return within 10 s";
        video->Disconnect();
        audio->Disconnect();
        videoSink->Disconnect();
        audioSink->Disconnect();
    }

    std::wstring SmallRecording() {
        RecordingPlan plan;
        plan.Width = 176;
        plan.Height = 144;
        plan.DurationMs = 800;
        return Recording(L"cycle.kxr", plan);
    }

    // Brings the platform's one-time allocations (COM, the graph classes,
    // the module and the playback library) in before the measurement.
    ProcessUsage WarmUp(const std::wstring& path) {
        for (int i = 0; i < 5; ++i) Cycle(path);
        return Measure();
    }

    // The starting point, and the threads that were alive at it.
    ProcessUsage Measure() {
        StartThreads = ProcessThreadIds();
        return ProcessUsage::Now();
    }

    // Nothing of the module alive, the module unloads, and the process is
    // back near where it was.
    // platformHandles: handles the platform itself keeps for what the test
    // made, measured apart (see PlatformHandlesPerGraph).
    void ExpectAllGivenBack(const ProcessUsage& start, DWORD platformHandles = 0) {
        EXPECT_EQ(S_OK, ModuleCanUnloadNow()) << "an object of the module is still alive";
        EXPECT_TRUE(ModuleFreedWhenUnused()) << "CoFreeUnusedLibrariesEx left KXVDSrc.ax loaded";
        // A thread that does not end within the bound is counted below.
        WaitForThreadsBeyond(StartThreads, PassingThreadsLimitMs);
        const ProcessUsage end = ProcessUsage::Now();
        ASSERT_TRUE(start.Handles > 0 && start.Threads > 0 && start.PrivateBytes > 0)
            << "the process's usage could not be measured: " << start.Describe();
        const std::string both = "start: " + start.Describe() + "; end: " + end.Describe();
        EXPECT_LE(end.Handles, start.Handles + HandleMargin + platformHandles)
            << "handles leaked (" << platformHandles << " allowed for the platform's graphs); " << both;
        EXPECT_LE(end.Threads, start.Threads + ThreadMargin) << "threads leaked; " << both;
        EXPECT_LE(end.PrivateBytes, start.PrivateBytes + MemoryMargin) << "memory leaked; " << both;
    }

    std::vector<DWORD> StartThreads;
};

TEST_F(LoadTest, ManyCreateLoadPlayReleaseCyclesLeaveNothingBehind) {
    const std::wstring path = SmallRecording();
    const ProcessUsage start = WarmUp(path);
    const uint32_t cycles = Rounds(500);
    for (uint32_t i = 0; i < cycles; ++i) {
        ASSERT_NO_FATAL_FAILURE(Cycle(path)) << "in cycle " << i;
        if (HasFailure()) break;
    }
    ExpectAllGivenBack(start);
}

// Wine 8's filter graph manager keeps one handle for every graph made, even a
// bare one that never held a filter. That is the platform's, not a leak of
// ours: it is measured on bare graphs and allowed for.
DWORD PlatformHandlesPerGraph() {
    const int graphs = 20;
    const DWORD before = ProcessUsage::Now().Handles;
    for (int i = 0; i < graphs; ++i) {
        ComPtr<IGraphBuilder> graph;
        if (FAILED(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&graph)))) return 0;
    }
    const DWORD after = ProcessUsage::Now().Handles;
    return after > before ? (after - before + graphs - 1) / graphs : 0;
}

TEST_F(LoadTest, TwelveFullHdRecordingsPlayAtOnceWithEveryPictureAndAllSound) {
    // At a fixed depth of 50 pictures twelve such files would need about
    // 2.6 GB of picture buffers, past what a 32-bit process can address.
    RecordingPlan plan;
    plan.Width = 1920;
    plan.Height = 1080;
    plan.DurationMs = 2400;
    const std::wstring path = Recording(L"fullhd.kxr", plan);
    RigOptions options;
    options.Width = plan.Width;
    options.Height = plan.Height;
    std::vector<std::unique_ptr<CGraphRig>> rigs;
    for (int i = 0; i < 12; ++i) {
        rigs.push_back(std::make_unique<CGraphRig>());
        ASSERT_EQ(S_OK, rigs.back()->Build(path, options)) << "filter " << i << " did not build";
    }
    for (auto& rig : rigs) ASSERT_TRUE(SUCCEEDED(rig->Control->Run()));
    for (size_t i = 0; i < rigs.size(); ++i) {
        CGraphRig& rig = *rigs[i];
        EXPECT_TRUE(rig.WaitForComplete(120000)) << "graph " << i << " did not complete, abort " << rig.LastAbortCode();
        EXPECT_TRUE(PicturesInOrder(rig.VideoLog.Snapshot(), 0, plan.FrameCount(), 400000)) << "graph " << i;
        EXPECT_EQ(plan.SoundSamples() * 2 / 800, rig.AudioLog.Count()) << "graph " << i << " lost sound";
    }
    for (auto& rig : rigs) {
        CGraphRig* raw = rig.get();
        ASSERT_TRUE(RunBounded([raw] { raw->Control->Stop(); }, StateLimitMs)) << "Stop hung";
    }
}

TEST_F(LoadTest, TenFiltersAliveWithFourPlaying) {
    const std::wstring path = SmallRecording();
    auto round = [&path] {
        std::vector<std::unique_ptr<CGraphRig>> rigs;
        RigOptions options;
        options.Width = 176;
        options.Height = 144;
        for (int i = 0; i < 10; ++i) {
            rigs.push_back(std::make_unique<CGraphRig>());
            ASSERT_EQ(S_OK, rigs.back()->Build(path, options)) << "filter " << i << " did not build";
        }
        for (int i = 0; i < 4; ++i) ASSERT_TRUE(SUCCEEDED(rigs[i]->Control->Run())) << "graph " << i;
        for (int i = 0; i < 4; ++i) {
            EXPECT_TRUE(rigs[i]->WaitForComplete(60000)) << "graph " << i << " did not complete";
            EXPECT_GE(rigs[i]->VideoLog.Count(), 10u) << "graph " << i << " lost pictures";
        }
        for (int i = 4; i < 10; ++i) EXPECT_EQ(0u, rigs[i]->VideoLog.Count()) << "a stopped graph delivered";
        for (auto& rig : rigs) {
            CGraphRig* raw = rig.get();
            ASSERT_TRUE(RunBounded([raw] { raw->Control->Stop(); }, StateLimitMs)) << "Stop hung";
        }
    };
    // The first round brings in the platform's graph classes and their caches.
    WarmUp(path);
    ASSERT_NO_FATAL_FAILURE(round());
    const DWORD perGraph = PlatformHandlesPerGraph();
    const ProcessUsage start = Measure();
    const uint32_t rounds = Rounds(3);
    for (uint32_t i = 0; i < rounds; ++i) ASSERT_NO_FATAL_FAILURE(round()) << "round " << i;
    ExpectAllGivenBack(start, perGraph * 10 * rounds);
}

// The same storm on the filter itself, outside any graph: state changes on
// the filter, seeks on both pins, from two threads. A Stop that lands while
// the other thread's seek waits for the new preroll must not hold that seek,
// and every seek behind it, for the whole preroll bound.
TEST_F(LoadTest, TwoThreadsChangingFilterStateAndSeekingAtRandom) {
    RecordingPlan plan;
    plan.Width = 176;
    plan.Height = 144;
    plan.DurationMs = 3000;
    const std::wstring path = Recording(L"filter-storm.kxr", plan);
    const ProcessUsage start = WarmUp(SmallRecording());
    {
        ComPtr<IBaseFilter> filter;
        ASSERT_EQ(S_OK, LoadFile(path, &filter));
        ComPtr<IPin> pins[2];
        ASSERT_EQ(S_OK, filter->FindPin(L"1", &pins[0]));
        ASSERT_EQ(S_OK, filter->FindPin(L"2", &pins[1]));
        SinkHandle sinks[2] = {MakeSink(SinkFault::None), MakeSink(SinkFault::None)};
        ComPtr<IMediaSeeking> seeking[2];
        for (int p = 0; p < 2; ++p) {
            ASSERT_EQ(S_OK, pins[p]->Connect(sinks[p].get(), nullptr));
            ASSERT_EQ(S_OK, pins[p].As(&seeking[p]));
        }
        IBaseFilter* raw = filter.Get();
        IMediaSeeking* video = seeking[0].Get();
        IMediaSeeking* audio = seeking[1].Get();
        const uint32_t rounds = Rounds(200);
        auto storm = [raw, video, audio, rounds](uint32_t seed) {
            std::mt19937 random(seed);
            for (uint32_t i = 0; i < rounds; ++i) {
                switch (random() % 5) {
                case 0: raw->Run(0); break;
                case 1: raw->Pause(); break;
                case 2: raw->Stop(); break;
                default: {
                    LONGLONG position = static_cast<LONGLONG>(random() % 3200) * 10000;
                    video->SetPositions(&position, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning);
                    audio->SetPositions(&position, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning);
                    break;
                }
                }
            }
        };
        const DWORD limit = 120000 * SoakFactor();
        ASSERT_TRUE(RunTogether({[storm] { storm(5u); }, [storm] { storm(31337u); }}, limit))
            << "the two threads' " << rounds << " rounds each did not end within " << limit / 1000
            << " s; the process's threads:\n"
            << DumpThreads();
        ASSERT_TRUE(RunBounded([raw] { raw->Stop(); }, StateLimitMs)) << "Stop after the storm hung";
        for (int p = 0; p < 2; ++p) {
            std::lock_guard<std::mutex> hold(sinks[p]->Mutex);
            EXPECT_EQ(0, sinks[p]->BadSamples);
        }
        for (int p = 0; p < 2; ++p) {
            pins[p]->Disconnect();
            sinks[p]->Disconnect();
        }
    }
    ExpectAllGivenBack(start);
}

// Two application threads changing state and seeking on one graph at random;
// afterwards the graph still plays from the start to its end with every
// picture.
//
// Wine's graph manager deadlocks by itself when Pause (also the one inside
// Stop and inside a seek while running) comes while its own asynchronous
// start is still pending: Pause holds the graph's lock and waits for that
// start, which waits for the lock (both seen on the stacks of a hung run, with
// no thread inside the module). So the two threads take turns, and each turn
// that leaves the graph running waits until the renderers have been started.
// The calls still come from both threads in random order through the graph;
// the filter-level storm above has them truly at once.
TEST_F(LoadTest, TwoThreadsChangingStateAndSeekingAtRandom) {
    RecordingPlan plan;
    plan.Width = 176;
    plan.Height = 144;
    plan.DurationMs = 3000;
    const std::wstring path = Recording(L"storm.kxr", plan);
    WarmUp(SmallRecording());
    {
        // The platform's graph classes come in with the first graph.
        CGraphRig rig;
        RigOptions options;
        options.Width = 176;
        options.Height = 144;
        ASSERT_EQ(S_OK, rig.Build(SmallRecording(), options));
        ASSERT_TRUE(SUCCEEDED(rig.Control->Run()));
        ASSERT_TRUE(rig.WaitForComplete(60000)) << "the warm-up graph did not complete";
        rig.Control->Stop();
    }
    const ProcessUsage start = Measure();
    {
        CGraphRig rig;
        RigOptions options;
        options.Width = 176;
        options.Height = 144;
        ASSERT_EQ(S_OK, rig.Build(path, options));
        IMediaControl* control = rig.Control.Get();
        IMediaSeeking* seeking = rig.Seeking.Get();
        ComPtr<IBaseFilter> renderers[2];
        ASSERT_EQ(S_OK, rig.Graph->FindFilterByName(L"Video renderer", &renderers[0]));
        ASSERT_EQ(S_OK, rig.Graph->FindFilterByName(L"Audio renderer", &renderers[1]));
        IBaseFilter* videoRenderer = renderers[0].Get();
        IBaseFilter* audioRenderer = renderers[1].Get();
        // True when the graph is not meant to run, or both renderers run.
        auto started = [control, videoRenderer, audioRenderer] {
            OAFilterState graphState = State_Stopped;
            control->GetState(0, &graphState);
            if (graphState != State_Running) return true;
            FILTER_STATE video = State_Stopped, audio = State_Stopped;
            videoRenderer->GetState(0, &video);
            audioRenderer->GetState(0, &audio);
            return video == State_Running && audio == State_Running;
        };
        auto turns = std::make_shared<std::mutex>();
        auto unsettled = std::make_shared<std::atomic<int>>(0);
        const uint32_t rounds = Rounds(200);
        auto storm = [control, seeking, rounds, started, turns, unsettled](uint32_t seed) {
            std::mt19937 random(seed);
            for (uint32_t i = 0; i < rounds; ++i) {
                std::lock_guard<std::mutex> turn(*turns);
                switch (random() % 5) {
                case 0: control->Run(); break;
                case 1: control->Pause(); break;
                case 2: control->Stop(); break;
                default: {
                    LONGLONG position = static_cast<LONGLONG>(random() % 3200) * 10000;
                    seeking->SetPositions(&position, AM_SEEKING_AbsolutePositioning, nullptr,
                                          AM_SEEKING_NoPositioning);
                    break;
                }
                }
                // Nothing signals the graph's start: poll for it, bounded.
                const DWORD begin = GetTickCount();
                while (!started()) {
                    if (GetTickCount() - begin > StateLimitMs) {
                        ++*unsettled;
                        break;
                    }
                    Sleep(1);
                }
            }
        };
        const DWORD limit = 120000 * SoakFactor();
        const bool joined = RunTogether({[storm] { storm(17u); }, [storm] { storm(4711u); }}, limit);
        ASSERT_TRUE(joined) << "the two threads' " << rounds << " rounds each did not end within " << limit / 1000
                            << " s; the process's threads:\n"
                            << DumpThreads();
        EXPECT_EQ(0, unsettled->load()) << "turns after which the running graph did not start its renderers within "
                                        << StateLimitMs << " ms";
        // Still whole: a run from the start plays to the end.
        ASSERT_TRUE(RunBounded([control] { control->Stop(); }, StateLimitMs)) << "Stop after the storm hung";
        LONGLONG zero = 0;
        ASSERT_TRUE(SUCCEEDED(seeking->SetPositions(&zero, AM_SEEKING_AbsolutePositioning, nullptr,
                                                    AM_SEEKING_NoPositioning)));
        rig.DrainEvents();
        const size_t before = rig.VideoLog.Count();
        ASSERT_TRUE(SUCCEEDED(control->Run()));
        EXPECT_TRUE(rig.WaitForComplete(60000)) << "the graph no longer plays to its end after the storm";
        EXPECT_EQ(plan.FrameCount(), rig.VideoLog.Count() - before) << "pictures lost in the run after the storm";
        control->Stop();
    }
    ExpectAllGivenBack(start);
}

}  // namespace
