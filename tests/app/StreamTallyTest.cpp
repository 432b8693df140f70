// The play summary's counting, fed with hand-made samples: gaps and repeats
// in picture steps and in sound continuity, the stop limit, audible sound.
#include "tools/kxvplay/StreamTally.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// Just enough of a media sample for the tally: times, data and its length.
class FakeSample final : public IMediaSample {
public:
    FakeSample(REFERENCE_TIME start, REFERENCE_TIME stop, std::vector<BYTE> data)
        : Start(start), Stop(stop), Data(std::move(data)) {}

    STDMETHODIMP QueryInterface(REFIID, void** out) override {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP GetPointer(BYTE** buffer) override {
        *buffer = Data.data();
        return S_OK;
    }
    STDMETHODIMP_(long) GetSize() override { return static_cast<long>(Data.size()); }
    STDMETHODIMP GetTime(REFERENCE_TIME* start, REFERENCE_TIME* stop) override {
        *start = Start;
        *stop = Stop;
        return S_OK;
    }
    STDMETHODIMP SetTime(REFERENCE_TIME*, REFERENCE_TIME*) override { return E_NOTIMPL; }
    STDMETHODIMP IsSyncPoint() override { return S_OK; }
    STDMETHODIMP SetSyncPoint(BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP IsPreroll() override { return S_FALSE; }
    STDMETHODIMP SetPreroll(BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP_(long) GetActualDataLength() override { return static_cast<long>(Data.size()); }
    STDMETHODIMP SetActualDataLength(long) override { return E_NOTIMPL; }
    STDMETHODIMP GetMediaType(AM_MEDIA_TYPE** type) override {
        *type = nullptr;
        return S_FALSE;
    }
    STDMETHODIMP SetMediaType(AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    STDMETHODIMP IsDiscontinuity() override { return S_FALSE; }
    STDMETHODIMP SetDiscontinuity(BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP GetMediaTime(LONGLONG*, LONGLONG*) override { return E_NOTIMPL; }
    STDMETHODIMP SetMediaTime(LONGLONG*, LONGLONG*) override { return E_NOTIMPL; }

private:
    REFERENCE_TIME Start;
    REFERENCE_TIME Stop;
    std::vector<BYTE> Data;
};

constexpr REFERENCE_TIME Step = 400000;
constexpr REFERENCE_TIME NoLimit = 0x7FFFFFFFFFFFFFFF;

void Feed(CStreamTally* tally, REFERENCE_TIME start, REFERENCE_TIME stop, BYTE fill = 1, size_t bytes = 8) {
    FakeSample sample(start, stop, std::vector<BYTE>(bytes, fill));
    ASSERT_EQ(S_OK, tally->SampleCB(0, &sample));
}

TEST(StreamTallyTest, PicturesMustStartWhereTheLastStopped) {
    const auto tally = CStreamTally::Create(CStreamTally::Kind::Video, NoLimit);
    Feed(tally.Get(), 0, Step);
    Feed(tally.Get(), Step, 2 * Step);
    Feed(tally.Get(), 3 * Step, 4 * Step);   // one picture missing
    Feed(tally.Get(), 3 * Step, 4 * Step);   // the same stamp again
    Feed(tally.Get(), 4 * Step, 5 * Step);
    const TallyCounts counts = tally->Counts();
    EXPECT_EQ(5u, counts.Samples);
    EXPECT_EQ(1u, counts.Gaps);
    EXPECT_EQ(1u, counts.Repeats);
    EXPECT_EQ(40u, counts.Bytes);
}

TEST(StreamTallyTest, SoundMustStartWhereTheLastEnded) {
    const auto tally = CStreamTally::Create(CStreamTally::Kind::Audio, NoLimit);
    Feed(tally.Get(), 0, 500000);
    Feed(tally.Get(), 500000, 1000000);
    Feed(tally.Get(), 1100000, 1600000);   // a hole
    Feed(tally.Get(), 1500000, 2000000);   // overlaps
    const TallyCounts counts = tally->Counts();
    EXPECT_EQ(1u, counts.Gaps);
    EXPECT_EQ(1u, counts.Repeats);
}

TEST(StreamTallyTest, SamplesFromTheLimitOnAreNotCountedAndMarkTheStop) {
    const auto tally = CStreamTally::Create(CStreamTally::Kind::Video, 2 * Step);
    Feed(tally.Get(), 0, Step);
    Feed(tally.Get(), Step, 2 * Step);
    EXPECT_FALSE(tally->Counts().ReachedLimit);
    Feed(tally.Get(), 2 * Step, 3 * Step);
    Feed(tally.Get(), 0, Step);   // even an earlier stamp after the stop
    const TallyCounts counts = tally->Counts();
    EXPECT_TRUE(counts.ReachedLimit);
    EXPECT_EQ(2u, counts.Samples);
    EXPECT_EQ(2 * Step, counts.LastEnd);
}

TEST(StreamTallyTest, SilenceIsCountedButNotAudible) {
    const auto tally = CStreamTally::Create(CStreamTally::Kind::Audio, NoLimit);
    Feed(tally.Get(), 0, 500000, 0, 800);
    Feed(tally.Get(), 500000, 1000000, 0, 800);
    EXPECT_EQ(0u, tally->Counts().AudibleSamples);
    Feed(tally.Get(), 1000000, 1500000, 7, 800);
    EXPECT_EQ(1u, tally->Counts().AudibleSamples);
    EXPECT_EQ(2400u, tally->Counts().Bytes);
}

TEST(StreamTallyTest, SampleHandlerSeesEachCountedSampleWithItsIndex) {
    const auto tally = CStreamTally::Create(CStreamTally::Kind::Video, 3 * Step);
    std::vector<uint64_t> indices;
    std::vector<REFERENCE_TIME> starts;
    tally->SetSampleHandler([&](uint64_t index, REFERENCE_TIME start, const BYTE* data, long bytes) {
        indices.push_back(index);
        starts.push_back(start);
        EXPECT_EQ(8, bytes);
        EXPECT_EQ(1, data[0]);
    });
    for (int i = 0; i < 5; ++i) Feed(tally.Get(), i * Step, (i + 1) * Step);
    EXPECT_EQ((std::vector<uint64_t>{0, 1, 2}), indices);
    EXPECT_EQ((std::vector<REFERENCE_TIME>{0, Step, 2 * Step}), starts);
}

TEST(StreamTallyTest, SampleHandlerSeesSoundInsideTheRangeOnly) {
    const auto tally = CStreamTally::Create(CStreamTally::Kind::Audio, 1000000);
    std::vector<REFERENCE_TIME> starts;
    tally->SetSampleHandler([&](uint64_t, REFERENCE_TIME start, const BYTE*, long) { starts.push_back(start); });
    Feed(tally.Get(), 0, 500000, 3, 800);
    Feed(tally.Get(), 500000, 1000000, 3, 800);
    Feed(tally.Get(), 1000000, 1500000, 3, 800);
    EXPECT_EQ((std::vector<REFERENCE_TIME>{0, 500000}), starts) << "sound at or past the stop reached the handler";
}

}  // namespace
