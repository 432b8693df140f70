// The sound a sample carries: exactly one twentieth of a second whatever the
// buffer, and silence (never an earlier sample's bytes) while no sound can
// come.
#include "DeliveryChecks.h"
#include "FilterTest.h"
#include "GraphRig.h"
#include "SinkPin.h"

#include "server/KXVDSrcClsid.h"

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
    // Only the sound pin takes data here, so decoding is held back after
    // about two seconds (40 samples); the first 30 are sound for certain.
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

TEST_F(FilterAudioTest, SoundThatCannotComeIsSilenceNeverOldBytes) {
    // Nobody takes the pictures, so decoding stays held back once the
    // picture queue is full: the sound decoded so far, then silence.
    RecordingPlan plan;
    plan.DurationMs = 8000;
    const std::wstring path = Recording(L"audioonly.kxr", plan);
    CGraphRig rig;
    RigOptions options;
    options.Video = false;
    ASSERT_EQ(S_OK, rig.Build(path, options));
    ASSERT_TRUE(SUCCEEDED(rig.Control->Run()));
    ASSERT_TRUE(rig.AudioLog.WaitForCount(100, 30000)) << "the audio stream stalled";
    ASSERT_EQ(S_OK, ChangeState(rig.Control.Get(), State_Stopped));

    const auto samples = rig.AudioLog.Snapshot();
    size_t sound = 0;
    while (sound < samples.size() && samples[sound].FirstTone >= 0) ++sound;
    // Decoding is held when the 50th picture (at 1960 ms) is queued; the sound
    // interleaved before it fills at least 39 whole 50 ms samples.
    EXPECT_GE(sound, 39u) << "less than the sound decoded before the hold";
    EXPECT_TRUE(SoundInOrder(std::vector<DeliveredSample>(samples.begin(), samples.begin() + sound), 0, sound, 800,
                             500000));
    for (size_t i = sound; i < samples.size(); ++i) {
        EXPECT_TRUE(samples[i].Silent) << "sample " << i << " carries old or foreign bytes";
        EXPECT_EQ(800, samples[i].Bytes);
        EXPECT_EQ(static_cast<REFERENCE_TIME>(i) * 500000, samples[i].Start);
    }
}
