// IMediaSeeking of the seeking base: argument checks, flag rules, the order
// and results of the hooks, and what a new object reports.
#include "PushTest.h"

#include "framework/SourceSeeking.h"

#include <uuids.h>
#include <vfwmsgs.h>

#include <string>

namespace {

// Records which hooks ran, in order, and answers with preset results.
class CRecordingSeeking : public CSourceSeeking {
public:
    CRecordingSeeking() : CSourceSeeking("recording seeking", nullptr, nullptr, &Lock) {}

    HRESULT OnStartChanged() override {
        Calls += "start ";
        return StartResult;
    }
    HRESULT OnStopChanged() override {
        Calls += "stop ";
        return StopResult;
    }
    HRESULT OnRateChanged() override {
        Calls += "rate ";
        return RateResult;
    }

    std::string Calls;
    HRESULT StartResult = S_OK;
    HRESULT StopResult = S_OK;
    HRESULT RateResult = S_OK;

private:
    CCritLock Lock;
};

// Offers pictures of 40 ms besides media time, and refuses to change the
// format while Busy.
class CPictureSeeking : public CRecordingSeeking {
public:
    bool Busy = false;

protected:
    bool OffersTimeFormat(const GUID& format) const override { return IsEqualGUID(format, TIME_FORMAT_FRAME); }
    LONGLONG ToMediaTime(const GUID&, LONGLONG value) const override { return value * 400000; }
    LONGLONG FromMediaTime(const GUID&, LONGLONG media) const override { return media / 400000; }
    HRESULT CheckTimeFormatChange() override { return Busy ? VFW_E_WRONG_STATE : S_OK; }
};

const GUID NotMediaTime = TIME_FORMAT_FRAME;
constexpr LONGLONG Second = 10000000;

class SeekingTest : public PushTest {
protected:
    void SetUp() override {
        PushTest::SetUp();
        Seeking = new CRecordingSeeking();
        Seeking->InnerAddRef();
    }
    void TearDown() override {
        Seeking->InnerRelease();
        PushTest::TearDown();
    }

    LONGLONG Start() {
        LONGLONG start = -1;
        Seeking->GetPositions(&start, nullptr);
        return start;
    }
    LONGLONG Stop() {
        LONGLONG stop = -1;
        Seeking->GetStopPosition(&stop);
        return stop;
    }

    CRecordingSeeking* Seeking = nullptr;
};

}  // namespace

TEST_F(SeekingTest, NewObjectReportsUnboundedDurationAndStopStartZeroRateOne) {
    LONGLONG value = -1;
    EXPECT_EQ(S_OK, Seeking->GetDuration(&value));
    EXPECT_EQ(0x3FFFFFFFFFFFFFFFLL, value);
    EXPECT_EQ(0x3FFFFFFFFFFFFFFFLL, Stop());
    EXPECT_EQ(0, Start());
    double rate = 0;
    EXPECT_EQ(S_OK, Seeking->GetRate(&rate));
    EXPECT_EQ(1.0, rate);
    value = -1;
    EXPECT_EQ(S_OK, Seeking->GetPreroll(&value));
    EXPECT_EQ(0, value);
    LONGLONG earliest = -1, latest = -1;
    EXPECT_EQ(S_OK, Seeking->GetAvailable(&earliest, &latest));
    EXPECT_EQ(0, earliest);
    EXPECT_EQ(0x3FFFFFFFFFFFFFFFLL, latest);
    EXPECT_EQ(E_NOTIMPL, Seeking->GetCurrentPosition(&value));
}

TEST_F(SeekingTest, NullOutPointersAreRefused) {
    EXPECT_EQ(E_POINTER, Seeking->GetCapabilities(nullptr));
    EXPECT_EQ(E_POINTER, Seeking->CheckCapabilities(nullptr));
    EXPECT_EQ(E_POINTER, Seeking->IsFormatSupported(nullptr));
    EXPECT_EQ(E_POINTER, Seeking->QueryPreferredFormat(nullptr));
    EXPECT_EQ(E_POINTER, Seeking->GetTimeFormat(nullptr));
    EXPECT_EQ(E_POINTER, Seeking->IsUsingTimeFormat(nullptr));
    EXPECT_EQ(E_POINTER, Seeking->SetTimeFormat(nullptr));
    EXPECT_EQ(E_POINTER, Seeking->GetDuration(nullptr));
    EXPECT_EQ(E_POINTER, Seeking->GetStopPosition(nullptr));
    EXPECT_EQ(E_POINTER, Seeking->ConvertTimeFormat(nullptr, nullptr, 5, nullptr));
    EXPECT_EQ(E_POINTER, Seeking->GetRate(nullptr));
    EXPECT_EQ(E_POINTER, Seeking->GetPreroll(nullptr));
    EXPECT_EQ(S_OK, Seeking->GetPositions(nullptr, nullptr));
    EXPECT_EQ(S_OK, Seeking->GetAvailable(nullptr, nullptr));
}

TEST_F(SeekingTest, OnlyMediaTimeIsATimeFormat) {
    EXPECT_EQ(S_OK, Seeking->IsFormatSupported(&TIME_FORMAT_MEDIA_TIME));
    EXPECT_EQ(S_FALSE, Seeking->IsFormatSupported(&NotMediaTime));
    EXPECT_EQ(S_OK, Seeking->IsUsingTimeFormat(&TIME_FORMAT_MEDIA_TIME));
    EXPECT_EQ(S_FALSE, Seeking->IsUsingTimeFormat(&NotMediaTime));
    EXPECT_EQ(S_OK, Seeking->SetTimeFormat(&TIME_FORMAT_MEDIA_TIME));
    EXPECT_EQ(E_INVALIDARG, Seeking->SetTimeFormat(&NotMediaTime));
    GUID format = GUID_NULL;
    EXPECT_EQ(S_OK, Seeking->GetTimeFormat(&format));
    EXPECT_TRUE(IsEqualGUID(format, TIME_FORMAT_MEDIA_TIME));
    format = GUID_NULL;
    EXPECT_EQ(S_OK, Seeking->QueryPreferredFormat(&format));
    EXPECT_TRUE(IsEqualGUID(format, TIME_FORMAT_MEDIA_TIME));
}

TEST_F(SeekingTest, ConvertTimeFormatCopiesMediaTimeOnly) {
    LONGLONG target = 0;
    EXPECT_EQ(S_OK, Seeking->ConvertTimeFormat(&target, nullptr, 1234, nullptr));
    EXPECT_EQ(1234, target);
    EXPECT_EQ(S_OK, Seeking->ConvertTimeFormat(&target, &TIME_FORMAT_MEDIA_TIME, 77, &TIME_FORMAT_MEDIA_TIME));
    EXPECT_EQ(77, target);
    EXPECT_EQ(E_INVALIDARG, Seeking->ConvertTimeFormat(&target, &TIME_FORMAT_MEDIA_TIME, 1, &NotMediaTime));
    EXPECT_EQ(E_INVALIDARG, Seeking->ConvertTimeFormat(&target, &NotMediaTime, 1, nullptr));
    EXPECT_EQ(77, target);
}

TEST_F(SeekingTest, CapabilitiesOfferEverythingButTheCurrentPosition) {
    DWORD mask = 0;
    EXPECT_EQ(S_OK, Seeking->GetCapabilities(&mask));
    EXPECT_EQ(0x37u, mask);
    mask = AM_SEEKING_CanGetCurrentPos;
    EXPECT_EQ(S_FALSE, Seeking->CheckCapabilities(&mask));
    EXPECT_EQ(static_cast<DWORD>(AM_SEEKING_CanGetCurrentPos), mask) << "the caller's mask is left alone";
    mask = 0x37;
    EXPECT_EQ(S_OK, Seeking->CheckCapabilities(&mask));
    mask = AM_SEEKING_CanSeekBackwards | AM_SEEKING_CanGetDuration;
    EXPECT_EQ(S_OK, Seeking->CheckCapabilities(&mask));
}

TEST_F(SeekingTest, AbsoluteStartWithKeyFrameFlagCallsOnlyTheStartHook) {
    LONGLONG start = 3 * Second;
    Seeking->StartResult = S_FALSE;
    EXPECT_EQ(S_FALSE, Seeking->SetPositions(&start, AM_SEEKING_AbsolutePositioning | AM_SEEKING_SeekToKeyFrame,
                                             nullptr, AM_SEEKING_NoPositioning));
    EXPECT_EQ(3 * Second, Start());
    EXPECT_EQ("start ", Seeking->Calls);
}

TEST_F(SeekingTest, IncrementalStopCountsFromTheNewStartAndItsHookRunsFirst) {
    LONGLONG start = 5 * Second, stop = 2 * Second;
    Seeking->StopResult = E_FAIL;
    EXPECT_EQ(S_OK, Seeking->SetPositions(&start, AM_SEEKING_AbsolutePositioning, &stop,
                                          AM_SEEKING_IncrementalPositioning))
        << "the start hook's result replaces the stop hook's failure";
    EXPECT_EQ(5 * Second, Start());
    EXPECT_EQ(7 * Second, Stop());
    EXPECT_EQ("stop start ", Seeking->Calls);
}

TEST_F(SeekingTest, RelativePositionsMoveFromTheCurrentOnesWithoutRangeChecks) {
    LONGLONG start = 2 * Second, stop = 4 * Second;
    ASSERT_EQ(S_OK, Seeking->SetPositions(&start, AM_SEEKING_AbsolutePositioning, &stop,
                                          AM_SEEKING_AbsolutePositioning));
    LONGLONG back = -3 * Second, more = Second;
    Seeking->StopResult = VFW_E_WRONG_STATE;
    EXPECT_EQ(VFW_E_WRONG_STATE, Seeking->SetPositions(nullptr, 0, &more, AM_SEEKING_RelativePositioning));
    EXPECT_EQ(S_OK, Seeking->SetPositions(&back, AM_SEEKING_RelativePositioning, nullptr, 0));
    EXPECT_EQ(-Second, Start());
    EXPECT_EQ(5 * Second, Stop());
}

TEST_F(SeekingTest, RejectedFlagsChangeNothingAndCallNoHook) {
    LONGLONG start = Second, stop = 2 * Second;
    EXPECT_EQ(E_INVALIDARG, Seeking->SetPositions(nullptr, 0, &stop,
                                                  AM_SEEKING_AbsolutePositioning | AM_SEEKING_SeekToKeyFrame));
    EXPECT_EQ(E_INVALIDARG, Seeking->SetPositions(&start, AM_SEEKING_IncrementalPositioning, nullptr, 0));
    EXPECT_EQ(E_INVALIDARG, Seeking->SetPositions(&start, AM_SEEKING_SeekToKeyFrame, nullptr, 0))
        << "flags without a positioning method";
    EXPECT_EQ(E_INVALIDARG, Seeking->SetPositions(&start, AM_SEEKING_AbsolutePositioning, &stop,
                                                  AM_SEEKING_ReturnTime | AM_SEEKING_AbsolutePositioning));
    EXPECT_EQ(E_POINTER, Seeking->SetPositions(nullptr, AM_SEEKING_AbsolutePositioning, nullptr, 0));
    EXPECT_EQ(E_POINTER, Seeking->SetPositions(&start, AM_SEEKING_AbsolutePositioning, nullptr,
                                               AM_SEEKING_AbsolutePositioning));
    EXPECT_EQ(0, Start());
    EXPECT_EQ(0x3FFFFFFFFFFFFFFFLL, Stop());
    EXPECT_EQ("", Seeking->Calls);
}

TEST_F(SeekingTest, NoPositioningChangesNothingAndSucceeds) {
    LONGLONG start = Second, stop = Second;
    EXPECT_EQ(S_OK, Seeking->SetPositions(&start, 0, &stop, 0));
    EXPECT_EQ(S_OK, Seeking->SetPositions(nullptr, 0, nullptr, 0));
    EXPECT_EQ(0, Start());
    EXPECT_EQ("", Seeking->Calls);
}

TEST_F(SeekingTest, RateIsStoredUncheckedAndTheHookDecides) {
    Seeking->RateResult = E_INVALIDARG;
    EXPECT_EQ(E_INVALIDARG, Seeking->SetRate(-2.0));
    double rate = 0;
    Seeking->GetRate(&rate);
    EXPECT_EQ(-2.0, rate);
    Seeking->RateResult = S_OK;
    EXPECT_EQ(S_OK, Seeking->SetRate(0.0));
    Seeking->GetRate(&rate);
    EXPECT_EQ(0.0, rate);
    EXPECT_EQ("rate rate ", Seeking->Calls);
}

TEST_F(SeekingTest, InterfaceQueriesAndCountsGoToTheOuterUnknown) {
    IMediaSeeking* seeking = nullptr;
    ASSERT_EQ(S_OK, Seeking->InnerQueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(&seeking)));
    EXPECT_EQ(static_cast<IMediaSeeking*>(Seeking), seeking);
    IUnknown* unknown = nullptr;
    ASSERT_EQ(S_OK, seeking->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)));
    EXPECT_EQ(Seeking->InnerUnknown(), unknown);
    unknown->Release();
    IPin* pin = nullptr;
    EXPECT_EQ(E_NOINTERFACE, seeking->QueryInterface(IID_IPin, reinterpret_cast<void**>(&pin)));
    EXPECT_EQ(nullptr, pin);
    EXPECT_EQ(1u, seeking->Release());
}

TEST_F(SeekingTest, AnOfferedFormatCarriesEveryPositionBothWays) {
    CPictureSeeking* pictures = new CPictureSeeking();
    pictures->InnerAddRef();
    EXPECT_EQ(S_OK, pictures->IsFormatSupported(&TIME_FORMAT_FRAME));
    pictures->Busy = true;
    EXPECT_EQ(VFW_E_WRONG_STATE, pictures->SetTimeFormat(&TIME_FORMAT_FRAME));
    EXPECT_EQ(S_OK, pictures->SetTimeFormat(&TIME_FORMAT_MEDIA_TIME)) << "the format in use is always fine";
    EXPECT_EQ(S_OK, pictures->IsUsingTimeFormat(&TIME_FORMAT_MEDIA_TIME));
    pictures->Busy = false;
    ASSERT_EQ(S_OK, pictures->SetTimeFormat(&TIME_FORMAT_FRAME));

    LONGLONG start = 10, stop = 5;
    ASSERT_EQ(S_OK, pictures->SetPositions(&start, AM_SEEKING_AbsolutePositioning, &stop,
                                           AM_SEEKING_IncrementalPositioning));
    EXPECT_EQ("stop start ", pictures->Calls);
    start = -3;
    stop = 2;
    ASSERT_EQ(S_OK, pictures->SetPositions(&start, AM_SEEKING_RelativePositioning, &stop,
                                           AM_SEEKING_RelativePositioning));
    EXPECT_EQ(S_OK, pictures->GetPositions(&start, &stop));
    EXPECT_EQ(7, start);
    EXPECT_EQ(17, stop);
    LONGLONG value = 0;
    EXPECT_EQ(S_OK, pictures->GetStopPosition(&value));
    EXPECT_EQ(17, value);
    EXPECT_EQ(S_OK, pictures->GetDuration(&value));
    EXPECT_EQ(CSourceSeeking::UnboundedTime / 400000, value);
    EXPECT_EQ(S_OK, pictures->ConvertTimeFormat(&value, &TIME_FORMAT_MEDIA_TIME, 7, nullptr));
    EXPECT_EQ(7 * 400000, value);
    EXPECT_EQ(S_OK, pictures->ConvertTimeFormat(&value, nullptr, 3 * 400000 + 1, &TIME_FORMAT_MEDIA_TIME));
    EXPECT_EQ(3, value);
    EXPECT_EQ(S_OK, pictures->SetTimeFormat(&TIME_FORMAT_MEDIA_TIME));
    EXPECT_EQ(S_OK, pictures->GetPositions(&start, &stop));
    EXPECT_EQ(7 * 400000, start);
    EXPECT_EQ(17 * 400000, stop);
    pictures->InnerRelease();
}
