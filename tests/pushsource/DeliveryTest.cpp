// The stream worker's push loop against a hand-written downstream pin: what
// reaches the peer, how each FillSample answer and each delivery refusal ends
// pushing, the wait for data that is not there yet, stopping while the peer
// holds every sample, and a seek that restarts the worker.
//
// A worker that answers CommandInit with E_NOTIMPL is idle in its command
// loop; while pushing it would answer E_UNEXPECTED. The tests use this to
// see that pushing has ended without waiting for something not to happen.
#include "OneStreamTest.h"

#include <vfwmsgs.h>

#include <wrl/client.h>

#include <vector>

using Microsoft::WRL::ComPtr;

namespace {

class DeliveryTest : public OneStreamTest {
protected:
    void TearDown() override {
        EXPECT_TRUE(RunBounded([this] { Source->Filter()->Stop(); })) << "Stop hung";
        Sink->ReleaseHeldSamples();
        OneStreamTest::TearDown();
    }
    void Connect() { ASSERT_EQ(S_OK, Pin()->Connect(Sink.Get(), nullptr)); }
    bool WorkerIdle() { return Stream->SendRequest(CommandInit) == static_cast<DWORD>(E_NOTIMPL); }
    std::vector<LONG> Numbers() {
        std::lock_guard<std::mutex> hold(Sink->Mutex);
        return Sink->Numbers;
    }
};

std::vector<LONG> Sequence(LONG from, LONG count) {
    std::vector<LONG> numbers;
    for (LONG i = 0; i < count; ++i) numbers.push_back(from + i);
    return numbers;
}

}  // namespace

TEST_F(DeliveryTest, EndOfDataSendsEveryNumberThenOneEndOfStreamAndIdles) {
    Stream->Script.TotalSamples = 25;
    Connect();
    ASSERT_EQ(S_OK, Source->Filter()->Pause());
    ASSERT_TRUE(Sink->WaitFor([&] { return Sink->EndOfStreams == 1; })) << "no end of stream";
    EXPECT_TRUE(WorkerIdle());
    EXPECT_EQ(Sequence(0, 25), Numbers());
    EXPECT_EQ(1, Sink->EndOfStreams);
    EXPECT_EQ(std::vector<REFERENCE_TIME>{0}, Sink->SegmentStarts);
}

TEST_F(DeliveryTest, StopAndPauseAgainStartsANewSegmentFromTheStart) {
    Stream->Script.TotalSamples = 10;
    Connect();
    ASSERT_EQ(S_OK, Source->Filter()->Run(0));
    ASSERT_TRUE(Sink->WaitFor([&] { return Sink->EndOfStreams == 1; }));
    ASSERT_TRUE(RunBounded([&] { Source->Filter()->Stop(); }));
    EXPECT_FALSE(Stream->IsThreadRunning());
    ASSERT_EQ(S_OK, Source->Filter()->Run(0));
    ASSERT_TRUE(Sink->WaitFor([&] { return Sink->EndOfStreams == 2; }));
    std::vector<LONG> expected = Sequence(0, 10);
    expected.insert(expected.end(), expected.begin(), expected.end());
    EXPECT_EQ(expected, Numbers());
    EXPECT_EQ(2u, Sink->SegmentStarts.size());
}

TEST_F(DeliveryTest, RefusedDeliveryEndsPushingWithoutEndOfStream) {
    Sink->RefuseFrom = 5;
    Sink->RefusalResult = S_FALSE;
    Connect();
    ASSERT_EQ(S_OK, Source->Filter()->Pause());
    ASSERT_TRUE(Sink->WaitFor([&] { return Sink->Receives == 6; }));
    EXPECT_TRUE(WorkerIdle());
    EXPECT_EQ(6, Sink->Receives);
    EXPECT_EQ(0, Sink->EndOfStreams);
    EXPECT_EQ(6, Stream->Filled.load());
}

TEST_F(DeliveryTest, FailedDeliveryEndsPushingWithoutEndOfStream) {
    Sink->RefuseFrom = 0;
    Sink->RefusalResult = VFW_E_WRONG_STATE;
    Connect();
    ASSERT_EQ(S_OK, Source->Filter()->Pause());
    ASSERT_TRUE(Sink->WaitFor([&] { return Sink->Receives == 1; }));
    EXPECT_TRUE(WorkerIdle());
    EXPECT_EQ(0, Sink->EndOfStreams);
}

TEST_F(DeliveryTest, FillFailureSendsEndOfStreamAndIdles) {
    Stream->Script.FailAt = 3;
    Stream->Script.FailCode = E_OUTOFMEMORY;
    Connect();
    ASSERT_EQ(S_OK, Source->Filter()->Pause());
    ASSERT_TRUE(Sink->WaitFor([&] { return Sink->EndOfStreams == 1; }));
    EXPECT_TRUE(WorkerIdle());
    EXPECT_EQ(Sequence(0, 3), Numbers());
}

TEST_F(DeliveryTest, StopWhileThePeerHoldsEverySampleDoesNotHang) {
    Stream->Script.TotalSamples = 1000;
    Sink->HoldSamples = true;
    Connect();
    ASSERT_EQ(S_OK, Source->Filter()->Pause());
    ASSERT_TRUE(Sink->WaitFor([&] { return Sink->Receives == Stream->Script.BufferCount; }));
    EXPECT_TRUE(RunBounded([&] { Source->Filter()->Stop(); })) << "Stop hung with every sample held";
    EXPECT_FALSE(Stream->IsThreadRunning());
    EXPECT_EQ(Stream->Script.BufferCount, Sink->Receives);
}

TEST_F(DeliveryTest, NoDataYetKeepsTheStreamOpenUntilDataComes) {
    Stream->Script.Slow = true;
    Stream->Script.TotalSamples = 3;
    Connect();
    ASSERT_EQ(S_OK, Source->Filter()->Pause());
    Stream->Supply(1);
    ASSERT_TRUE(Sink->WaitFor([&] { return Sink->Receives == 1; }));
    ASSERT_TRUE(Stream->WaitForNoDataAnswer()) << "the stream never waited for data";
    EXPECT_EQ(0, Sink->EndOfStreams);
    EXPECT_EQ(S_OK, Stream->SendRequest(CommandRun)) << "a request during the wait is answered as between samples";
    Stream->Supply(2);
    ASSERT_TRUE(Sink->WaitFor([&] { return Sink->EndOfStreams == 1; })) << "the supplied samples never came";
    EXPECT_EQ(Sequence(0, 3), Numbers());
}

TEST_F(DeliveryTest, StopWhileWaitingForDataDoesNotHang) {
    Stream->Script.Slow = true;
    Connect();
    ASSERT_EQ(S_OK, Source->Filter()->Run(0));
    ASSERT_TRUE(Sink->WaitFor([&] { return !Sink->SegmentStarts.empty(); }));
    ASSERT_TRUE(Stream->WaitForNoDataAnswer()) << "the stream never waited for data";
    EXPECT_TRUE(RunBounded([&] { Source->Filter()->Stop(); })) << "Stop hung while the stream waited for data";
    EXPECT_EQ(0, Sink->Receives);
    EXPECT_EQ(0, Sink->EndOfStreams);
}

TEST_F(DeliveryTest, NewStartWhileRunningFlushesAndRestartsWithANewSegment) {
    Stream->Script.Slow = true;
    Stream->Script.TotalSamples = 1000;
    Connect();
    ASSERT_EQ(S_OK, Source->Filter()->Run(0));
    Stream->Supply(3);
    ASSERT_TRUE(Sink->WaitFor([&] { return Sink->Receives == 3; }));

    ComPtr<IMediaSeeking> seeking;
    ASSERT_EQ(S_OK, Pin()->QueryInterface(IID_PPV_ARGS(&seeking)));
    LONGLONG start = 500 * TestSampleTime;
    ASSERT_EQ(S_OK, seeking->SetPositions(&start, AM_SEEKING_AbsolutePositioning, nullptr, 0));
    EXPECT_EQ(1, Stream->Restarts.load());
    EXPECT_EQ(1, Sink->BeginFlushes);
    EXPECT_EQ(1, Sink->EndFlushes);
    Stream->Supply(2);
    ASSERT_TRUE(Sink->WaitFor([&] { return Sink->Receives == 5; }));
    EXPECT_EQ((std::vector<LONG>{0, 1, 2, 500, 501}), Numbers());
    EXPECT_EQ((std::vector<REFERENCE_TIME>{0, start}), Sink->SegmentStarts);
    EXPECT_EQ(0, Sink->EndOfStreams);
}
