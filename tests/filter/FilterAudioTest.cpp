// The sound a sample carries: exactly one twentieth of a second whatever the
// buffer, and silence (never an earlier sample's bytes) while no sound can
// come.
#include "DeliveryChecks.h"
#include "FilterTest.h"
#include "GraphRig.h"
#include "SinkPin.h"

#include "common/KXVDSrcClsid.h"

namespace {

class FilterAudioTest : public FilterTest {};

}  // namespace

TEST_F(FilterAudioTest, LargerBuffersStillCarryFiftyMillisecondsEach) {
    RecordingPlan plan;
    const std::wstring path = Recording(L"large.kxr", plan);
    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_KXVDSource, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&filter)));
    ComPtr<IFileSourceFilter> source;
    ASSERT_EQ(S_OK, filter.As(&source));
    ASSERT_EQ(S_OK, source->Load(path.c_str(), nullptr));
    ComPtr<IPin> audio;
    ASSERT_EQ(S_OK, filter->FindPin(L"2", &audio));

    CSampleLog log(CSampleLog::Kind::Audio);
    CSinkPin sink(&log, 1600);
    ASSERT_EQ(S_OK, audio->Connect(&sink, nullptr));
    ASSERT_EQ(S_OK, filter->Pause());
    const bool arrived = log.WaitForCount(30, 20000);
    EXPECT_EQ(S_OK, filter->Stop());
    EXPECT_EQ(S_OK, audio->Disconnect());
    sink.Disconnect();
    ASSERT_TRUE(arrived) << "fewer than 30 sound samples within 20 s";

    auto samples = log.Snapshot();
    samples.resize(30);
    EXPECT_EQ(1600, samples[0].BufferBytes);
    EXPECT_TRUE(SoundInOrder(samples, 0, 30, 800, 500000));
}

TEST_F(FilterAudioTest, SoundAloneDeliversExactlyTheRecordingsSoundAndEnds) {
    // Nobody takes the pictures: they must not hold decoding back, and no
    // silence may be made up once the sound is used up.
    RecordingPlan plan;
    plan.DurationMs = 8000;
    const std::wstring path = Recording(L"audioonly.kxr", plan);
    CGraphRig rig;
    RigOptions options;
    options.Video = false;
    ASSERT_EQ(S_OK, rig.Build(path, options));
    ASSERT_TRUE(SUCCEEDED(rig.Control->Run()));
    ASSERT_TRUE(rig.WaitForComplete(30000)) << "a sound-only graph never ended; " << rig.AudioLog.Count()
                                            << " samples delivered";
    const auto samples = rig.AudioLog.Snapshot();
    const size_t expected = plan.SoundSamples() * 2 / 800;
    EXPECT_EQ(expected, samples.size());
    EXPECT_TRUE(SoundInOrder(samples, 0, samples.size(), 800, 500000));
}
