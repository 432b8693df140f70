// The push source's pin list and ids, the stream's default type checks, and
// the worker's request protocol as the filter's state changes drive it.
#include "PushTest.h"

#include "HandSink.h"
#include "TestPushSource.h"
#include "common/AdoptReference.h"

#include <uuids.h>
#include <vfwmsgs.h>

#include <wrl/client.h>

using Microsoft::WRL::ComPtr;

namespace {

class SourceTest : public PushTest {
protected:
    void TearDown() override {
        if (Source) Source->Filter()->Release();
        PushTest::TearDown();
    }
    void Make(int streams) {
        Source = CTestPushSource::Create(streams);
        ASSERT_NE(nullptr, Source);
    }
    IPin* Pin(int index) { return static_cast<IPin*>(Source->Stream(index)); }

    CTestPushSource* Source = nullptr;
};

std::wstring IdOf(IPin* pin) {
    LPWSTR id = nullptr;
    if (FAILED(pin->QueryId(&id))) return L"<failed>";
    std::wstring text(id);
    CoTaskMemFree(id);
    return text;
}

}  // namespace

TEST_F(SourceTest, FindPinAnswersIdsInListOrder) {
    Make(2);
    ComPtr<IPin> pin;
    ASSERT_EQ(S_OK, Source->Filter()->FindPin(L"1", &pin));
    EXPECT_EQ(Pin(0), pin.Get());
    ASSERT_EQ(S_OK, Source->Filter()->FindPin(L"2", pin.ReleaseAndGetAddressOf()));
    EXPECT_EQ(Pin(1), pin.Get());
    for (const wchar_t* id : {L"0", L"3", L"x", L""}) {
        IPin* none = Pin(0);
        EXPECT_EQ(VFW_E_NOT_FOUND, Source->Filter()->FindPin(id, &none)) << "id \"" << id << '"';
        EXPECT_EQ(nullptr, none);
    }
    EXPECT_EQ(E_POINTER, Source->Filter()->FindPin(L"1", nullptr));
    EXPECT_EQ(L"2", IdOf(Pin(1)));
    EXPECT_EQ(L"1", IdOf(Pin(0)));
    EXPECT_EQ(E_POINTER, Pin(0)->QueryId(nullptr));
}

TEST_F(SourceTest, DestroyingTheMiddleStreamKeepsTheOthersInOrder) {
    Make(3);
    CTestPushStream* first = Source->Stream(0);
    CTestPushStream* last = Source->Stream(2);
    delete Source->Stream(1);
    EXPECT_EQ(2, Source->CountPins());
    EXPECT_EQ(first, Source->Stream(0));
    EXPECT_EQ(last, Source->Stream(1));
    EXPECT_EQ(L"2", IdOf(static_cast<IPin*>(last)));
    EXPECT_EQ(1, Source->IndexOfPin(static_cast<IPin*>(last)));
    EXPECT_EQ(-1, Source->IndexOfPin(nullptr));
    EXPECT_EQ(S_FALSE, Source->DropPin(nullptr));
    delete first;
    delete last;
    EXPECT_EQ(0, Source->CountPins());
    EXPECT_EQ(nullptr, Source->PinByIndex(0));
}

TEST_F(SourceTest, StreamOffersAndAcceptsExactlyItsOneType) {
    Make(1);
    CTestPushStream* stream = Source->Stream(0);
    CMediaFormat type;
    EXPECT_EQ(E_INVALIDARG, stream->ProposeMediaType(-1, &type));
    EXPECT_EQ(VFW_S_NO_MORE_ITEMS, stream->ProposeMediaType(1, &type));
    ASSERT_EQ(S_OK, stream->ProposeMediaType(0, &type));
    EXPECT_EQ(S_OK, stream->VerifyMediaType(&type));
    type.PutSubtype(MEDIASUBTYPE_RGB24);
    EXPECT_EQ(E_FAIL, stream->VerifyMediaType(&type));
}

TEST_F(SourceTest, OutputPinRefusesInputNotificationsAndCannotSendUnconnected) {
    Make(1);
    CTestPushStream* stream = Source->Stream(0);
    EXPECT_EQ(E_UNEXPECTED, Pin(0)->EndOfStream());
    EXPECT_EQ(E_UNEXPECTED, Pin(0)->BeginFlush());
    EXPECT_EQ(E_UNEXPECTED, Pin(0)->EndFlush());
    EXPECT_EQ(VFW_E_NOT_CONNECTED, stream->SendEndOfStream());
    EXPECT_EQ(VFW_E_NOT_CONNECTED, stream->SendBeginFlush());
    EXPECT_EQ(VFW_E_NOT_CONNECTED, stream->SendNewSegment(0, 1, 1.0));
    EXPECT_EQ(VFW_E_NO_ALLOCATOR, stream->CBaseOutputPin::Activate());
    IMediaSample* sample = nullptr;
    EXPECT_EQ(E_NOINTERFACE, stream->ObtainDeliveryBuffer(&sample, nullptr, nullptr, 0));
}

TEST_F(SourceTest, UnconnectedStreamStartsNoWorker) {
    Make(1);
    EXPECT_EQ(S_OK, Source->Filter()->Pause());
    EXPECT_FALSE(Source->Stream(0)->IsThreadRunning());
    EXPECT_EQ(S_OK, Source->Stream(0)->Deactivate());
    EXPECT_EQ(S_OK, Source->Filter()->Stop());
}

TEST_F(SourceTest, FreshWorkerAnswersOnlyTheHandshakeAndExitDuringPushingIsRefused) {
    Make(1);
    CTestPushStream* stream = Source->Stream(0);
    stream->Script.Slow = true;
    const ComPtr<CHandSink> sink = AdoptReference(new CHandSink());
    ASSERT_EQ(S_OK, Pin(0)->Connect(sink.Get(), nullptr));
    ASSERT_EQ(S_OK, stream->CBaseOutputPin::Activate());
    ASSERT_TRUE(stream->StartThread());
    EXPECT_EQ(static_cast<DWORD>(E_UNEXPECTED), stream->SendRequest(CommandPause));
    EXPECT_EQ(static_cast<DWORD>(E_UNEXPECTED), stream->SendRequest(CommandExit));
    EXPECT_EQ(S_OK, stream->SendRequest(CommandInit));
    EXPECT_EQ(static_cast<DWORD>(E_NOTIMPL), stream->SendRequest(CommandInit)) << "idle worker, second handshake";
    EXPECT_EQ(S_OK, stream->SendRequest(CommandPause));
    ASSERT_TRUE(sink->WaitFor([&] { return !sink->SegmentStarts.empty(); })) << "pushing never started";
    EXPECT_EQ(static_cast<DWORD>(E_UNEXPECTED), stream->SendRequest(CommandExit)) << "exit while pushing";
    stream->Supply(1);
    ASSERT_TRUE(sink->WaitFor([&] { return sink->Receives == 1; })) << "pushing did not go on after the refusal";
    EXPECT_EQ(S_OK, stream->SendRequest(CommandRun)) << "run while pushing";
    EXPECT_EQ(S_OK, stream->SendRequest(CommandStop));
    EXPECT_EQ(S_OK, stream->SendRequest(CommandExit));
    stream->JoinThread();
    EXPECT_EQ(S_OK, stream->CBaseOutputPin::Deactivate());
    EXPECT_EQ(S_OK, Pin(0)->Disconnect());
    sink->Disconnect();
}

TEST_F(SourceTest, FailedWorkerStartLeavesThePinInactiveAndCanBeRetried) {
    Make(1);
    CTestPushStream* stream = Source->Stream(0);
    stream->Script.WorkerStartResult = E_ACCESSDENIED;
    const ComPtr<CHandSink> sink = AdoptReference(new CHandSink());
    ASSERT_EQ(S_OK, Pin(0)->Connect(sink.Get(), nullptr));
    EXPECT_EQ(E_ACCESSDENIED, Source->Filter()->Pause());
    FILTER_STATE state = State_Running;
    Source->Filter()->GetState(0, &state);
    EXPECT_EQ(State_Stopped, state);
    EXPECT_FALSE(stream->IsThreadRunning());

    stream->Script.WorkerStartResult = S_OK;
    EXPECT_EQ(S_OK, Source->Filter()->Pause());
    ASSERT_TRUE(sink->WaitFor([&] { return sink->EndOfStreams == 1; })) << "no end of stream after the retry";
    EXPECT_EQ(S_FALSE, stream->Activate()) << "activation while paused";
    EXPECT_TRUE(RunBounded([&] { Source->Filter()->Stop(); })) << "Stop hung";
    EXPECT_EQ(S_OK, Pin(0)->Disconnect());
    sink->Disconnect();
}

TEST_F(SourceTest, ReleasingAnActiveFilterStopsItsWorkerBeforeDeletingTheStream) {
    Make(1);
    CTestPushStream* stream = Source->Stream(0);
    stream->Script.Slow = true;
    const ComPtr<CHandSink> sink = AdoptReference(new CHandSink());
    ASSERT_EQ(S_OK, Pin(0)->Connect(sink.Get(), nullptr));
    ASSERT_EQ(S_OK, Source->Filter()->Run(0));
    ASSERT_TRUE(stream->WaitForNoDataAnswer()) << "the worker never started pushing";
    // The peer lets go of the pin (and so of the filter) without a Stop.
    sink->Disconnect();
    CTestPushSource* source = Source;
    Source = nullptr;
    EXPECT_TRUE(RunBounded([source] { source->Filter()->Release(); })) << "the last release hung";
}
