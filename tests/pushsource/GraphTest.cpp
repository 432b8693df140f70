// The test push source in Wine's own graph, through a Sample Grabber into a
// Null Renderer: playback to the end with and without a clock and again after
// a stop, an abort reported through the graph's events, stopping while every
// sample is held downstream, a seek while running, and a storm of state
// changes and seeks from two application threads.
#include "PushTest.h"

#include "GrabberGraph.h"
#include "TestPushSource.h"

#include <evcode.h>
#include <vfwmsgs.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

namespace {

class GraphTest : public PushTest {
protected:
    void SetUp() override {
        PushTest::SetUp();
        Source = CTestPushSource::Create(1);
        ASSERT_NE(nullptr, Source);
        Stream = Source->Stream(0);
    }
    void TearDown() override {
        if (Rig) {
            EXPECT_TRUE(RunBounded([this] { Rig.reset(); })) << "the graph did not stop and go";
        }
        Source->Filter()->Release();
        PushTest::TearDown();
    }
    void Build(bool clock) {
        Rig = std::make_unique<CGrabberGraph>(Source, clock);
        ASSERT_EQ(S_OK, Rig->Built);
    }

    CTestPushSource* Source = nullptr;
    CTestPushStream* Stream = nullptr;
    std::unique_ptr<CGrabberGraph> Rig;
};

std::vector<LONG> Sequence(LONG from, LONG count) {
    std::vector<LONG> numbers;
    for (LONG i = 0; i < count; ++i) numbers.push_back(from + i);
    return numbers;
}

void PlayTwiceToTheEnd(CGrabberGraph& rig, LONG total) {
    ASSERT_EQ(S_OK, rig.ChangeState(State_Paused));
    ASSERT_EQ(S_OK, rig.ChangeState(State_Running));
    ASSERT_TRUE(rig.WaitForEvent(EC_COMPLETE)) << "no EC_COMPLETE";
    EXPECT_EQ(Sequence(0, total), rig.Log.Numbers());

    ASSERT_EQ(S_OK, rig.ChangeState(State_Stopped));
    rig.Log.Clear();
    ASSERT_EQ(S_OK, rig.ChangeState(State_Running));
    ASSERT_TRUE(rig.WaitForEvent(EC_COMPLETE)) << "no EC_COMPLETE after running again";
    EXPECT_EQ(Sequence(0, total), rig.Log.Numbers());
}

}  // namespace

TEST_F(GraphTest, PlaysEveryNumberOnceInOrderWithAClock) {
    Stream->Script.TotalSamples = 60;
    Build(true);
    PlayTwiceToTheEnd(*Rig, 60);
}

TEST_F(GraphTest, PlaysEveryNumberOnceInOrderWithoutAClock) {
    Stream->Script.TotalSamples = 200;
    Build(false);
    PlayTwiceToTheEnd(*Rig, 200);
}

TEST_F(GraphTest, FillFailureRaisesErrorAbortWithItsCode) {
    const HRESULT code = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x0777);
    Stream->Script.FailAt = 5;
    Stream->Script.FailCode = code;
    Build(false);
    ASSERT_EQ(S_OK, Rig->ChangeState(State_Running));
    LONG_PTR reported = 0;
    ASSERT_TRUE(Rig->WaitForEvent(EC_ERRORABORT, &reported)) << "no EC_ERRORABORT";
    EXPECT_EQ(code, static_cast<HRESULT>(reported));
    EXPECT_EQ(Sequence(0, 5), Rig->Log.Numbers());
}

TEST_F(GraphTest, StopWhileEverySampleIsHeldDownstreamDoesNotHang) {
    Stream->Script.TotalSamples = 100000;
    Build(false);
    Rig->Log.HoldSamples = true;
    ASSERT_EQ(S_OK, Rig->ChangeState(State_Running));
    ASSERT_TRUE(Rig->Log.WaitForCount(static_cast<size_t>(Stream->Script.BufferCount)));
    HRESULT stopped = E_FAIL;
    EXPECT_TRUE(RunBounded([&] { stopped = Rig->ChangeState(State_Stopped); })) << "Stop hung";
    EXPECT_EQ(S_OK, stopped);
    EXPECT_FALSE(Stream->IsThreadRunning());
}

TEST_F(GraphTest, NewStartWhileRunningRestartsFromThere) {
    Stream->Script.TotalSamples = 100000;
    Build(true);
    ASSERT_EQ(S_OK, Rig->ChangeState(State_Running));
    ASSERT_TRUE(Rig->Log.WaitForCount(3));
    ComPtr<IMediaSeeking> seeking;
    ASSERT_EQ(S_OK, Rig->SourcePin.As(&seeking));
    LONGLONG start = 50000 * TestSampleTime;
    ASSERT_EQ(S_OK, seeking->SetPositions(&start, AM_SEEKING_AbsolutePositioning, nullptr, 0));
    EXPECT_EQ(1, Stream->Restarts.load());
    const size_t before = Rig->Log.Numbers().size();
    ASSERT_TRUE(Rig->Log.WaitForCount(before + 5));
    const std::vector<LONG> numbers = Rig->Log.Numbers();
    size_t first = 0;
    while (first < numbers.size() && numbers[first] < 50000) ++first;
    ASSERT_LT(first, numbers.size()) << "nothing from the new start arrived";
    EXPECT_EQ(Sequence(0, static_cast<LONG>(first)), std::vector<LONG>(numbers.begin(), numbers.begin() + first));
    EXPECT_EQ(Sequence(50000, static_cast<LONG>(numbers.size() - first)),
              std::vector<LONG>(numbers.begin() + first, numbers.end()));
}

TEST_F(GraphTest, StateChangesAndSeeksFromTwoThreadsNeitherHangNorLeak) {
    Stream->Script.TotalSamples = 0x7FFFFFFF;
    Build(true);
    ComPtr<IMediaSeeking> seeking;
    ASSERT_EQ(S_OK, Rig->SourcePin.As(&seeking));
    IMediaControl* control = Rig->Control.Get();
    IMediaSeeking* seeker = seeking.Get();
    constexpr int Rounds = 300;
    std::atomic<int> stateRounds{0}, seekRounds{0};
    const bool finished = RunBounded(
        [&] {
            std::thread states([&] {
                CoInitializeEx(nullptr, COINIT_MULTITHREADED);
                for (int i = 0; i < Rounds; ++i, ++stateRounds) {
                    switch (i % 5) {
                    case 0: control->Pause(); break;
                    case 1: control->Run(); break;
                    case 2: control->Stop(); break;
                    case 3: control->Run(); break;
                    default: control->Pause(); break;
                    }
                }
                CoUninitialize();
            });
            std::thread seeks([&] {
                CoInitializeEx(nullptr, COINIT_MULTITHREADED);
                for (int i = 0; i < Rounds; ++i, ++seekRounds) {
                    LONGLONG start = (i * 37 % 1000) * TestSampleTime;
                    seeker->SetPositions(&start, AM_SEEKING_AbsolutePositioning, nullptr, 0);
                }
                CoUninitialize();
            });
            states.join();
            seeks.join();
        },
        120000);
    ASSERT_TRUE(finished) << "hung after " << stateRounds.load() << " state changes and " << seekRounds.load()
                          << " seeks";
    EXPECT_EQ(S_OK, Rig->ChangeState(State_Stopped));
    EXPECT_FALSE(Stream->IsThreadRunning());

    LONGLONG start = 0;
    ASSERT_EQ(S_OK, seeking->SetPositions(&start, AM_SEEKING_AbsolutePositioning, nullptr, 0));
    Rig->Log.Clear();
    ASSERT_EQ(S_OK, Rig->ChangeState(State_Running));
    ASSERT_TRUE(Rig->Log.WaitForCount(5)) << "the graph no longer plays after the storm";
    const std::vector<LONG> numbers = Rig->Log.Numbers();
    EXPECT_EQ(Sequence(0, 5), std::vector<LONG>(numbers.begin(), numbers.begin() + 5));
}
