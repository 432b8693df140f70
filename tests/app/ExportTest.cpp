// kxvplay export: an AVI that the platform's own AVI source reads back with
// every picture of the range and the whole sound, and never a half-written
// file under the final name. Where the platform's AVI Mux and File Writer
// cannot work together (Wine 8's File Writer offers no IStream), the export
// must fail cleanly instead.
#include "AppTest.h"
#include "SampleLog.h"

#include <dshow.h>
#include <uuids.h>
#include <wrl/client.h>

#include <cstdio>
#include <string>

using Microsoft::WRL::ComPtr;

namespace {

const CLSID SampleGrabberClass = {0xc1f400a0, 0x3f08, 0x11d3, {0x9f, 0x0b, 0x00, 0x60, 0x08, 0x03, 0x9e, 0x37}};
const CLSID NullRendererClass = {0xc1f400a4, 0x3f08, 0x11d3, {0x9f, 0x0b, 0x00, 0x60, 0x08, 0x03, 0x9e, 0x37}};

std::string ReadAll(const std::wstring& path) {
    std::string content;
    FILE* file = _wfopen(path.c_str(), L"rb");
    if (!file) return content;
    char buffer[4096];
    size_t got = 0;
    while ((got = fread(buffer, 1, sizeof(buffer), file)) > 0) content.append(buffer, got);
    fclose(file);
    return content;
}

ComPtr<IPin> FirstPin(IBaseFilter* filter, PIN_DIRECTION wanted) {
    ComPtr<IEnumPins> pins;
    filter->EnumPins(&pins);
    ComPtr<IPin> pin;
    while (pins->Next(1, pin.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
        PIN_DIRECTION direction;
        pin->QueryDirection(&direction);
        ComPtr<IPin> peer;
        if (direction == wanted && pin->ConnectedTo(&peer) == VFW_E_NOT_CONNECTED) return pin;
    }
    return nullptr;
}

// Reads an AVI back through the File Source (Async) and the AVI Splitter
// into logs; false when the graph cannot be built or does not complete.
bool ReadBack(const std::wstring& avi, CSampleLog* video, CSampleLog* audio) {
    ComPtr<IGraphBuilder> graph;
    if (FAILED(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&graph)))) return false;
    ComPtr<IBaseFilter> source, splitter;
    if (FAILED(graph->AddSourceFilter(avi.c_str(), L"AVI file", &source))) return false;
    if (FAILED(CoCreateInstance(CLSID_AviSplitter, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&splitter))) ||
        FAILED(graph->AddFilter(splitter.Get(), L"AVI Splitter")) ||
        FAILED(graph->ConnectDirect(FirstPin(source.Get(), PINDIR_OUTPUT).Get(),
                                    FirstPin(splitter.Get(), PINDIR_INPUT).Get(), nullptr))) {
        return false;
    }
    for (ComPtr<IPin> out = FirstPin(splitter.Get(), PINDIR_OUTPUT); out;
         out = FirstPin(splitter.Get(), PINDIR_OUTPUT)) {
        ComPtr<IEnumMediaTypes> types;
        AM_MEDIA_TYPE* type = nullptr;
        if (FAILED(out->EnumMediaTypes(&types)) || types->Next(1, &type, nullptr) != S_OK) return false;
        const bool isVideo = IsEqualGUID(type->majortype, MEDIATYPE_Video);
        if (type->cbFormat) CoTaskMemFree(type->pbFormat);
        CoTaskMemFree(type);
        ComPtr<IBaseFilter> grabberFilter, renderer;
        ComPtr<ISampleGrabber> grabber;
        if (FAILED(CoCreateInstance(SampleGrabberClass, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&grabberFilter))) ||
            FAILED(grabberFilter.As(&grabber)) ||
            FAILED(CoCreateInstance(NullRendererClass, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&renderer)))) {
            return false;
        }
        grabber->SetCallback(isVideo ? video : audio, 0);
        graph->AddFilter(grabberFilter.Get(), isVideo ? L"Video grabber" : L"Audio grabber");
        graph->AddFilter(renderer.Get(), isVideo ? L"Video renderer" : L"Audio renderer");
        if (FAILED(graph->ConnectDirect(out.Get(), FirstPin(grabberFilter.Get(), PINDIR_INPUT).Get(), nullptr)) ||
            FAILED(graph->ConnectDirect(FirstPin(grabberFilter.Get(), PINDIR_OUTPUT).Get(),
                                        FirstPin(renderer.Get(), PINDIR_INPUT).Get(), nullptr))) {
            return false;
        }
    }
    ComPtr<IMediaFilter> mediaFilter;
    ComPtr<IMediaControl> control;
    ComPtr<IMediaEvent> events;
    graph.As(&mediaFilter);
    graph.As(&control);
    graph->QueryInterface(IID_IMediaEvent, reinterpret_cast<void**>(events.GetAddressOf()));
    mediaFilter->SetSyncSource(nullptr);
    if (FAILED(control->Run())) return false;
    long code = 0;
    const HRESULT waited = events->WaitForCompletion(60000, &code);
    control->Stop();
    return waited == S_OK && code == EC_COMPLETE;
}

class ExportTest : public AppTest {};

TEST_F(ExportTest, ExportHoldsEveryPictureAndTheSoundOrFailsLeavingTheOldFile) {
    RecordingPlan plan;
    plan.DurationMs = 2000;
    const std::wstring recording = Recording(L"export.kxr", plan);
    const std::wstring avi = Temp.File(L"out.avi");
    // A file from before stays as it was unless an export completes.
    FILE* old = _wfopen(avi.c_str(), L"wb");
    ASSERT_NE(nullptr, old);
    fputs("an earlier export", old);
    fclose(old);

    const ChildResult run = Kxvplay({L"export", recording, avi, L"--json"});
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((avi + L".partial").c_str()))
        << "the temporary file was left behind";
    if (run.ExitCode != 0) {
        EXPECT_EQ(6, run.ExitCode) << run.Err;
        EXPECT_NE(std::string::npos, run.Err.find("graph failure")) << run.Err;
        EXPECT_EQ("an earlier export", ReadAll(avi)) << "a failed export touched the final file";
        return;
    }
    CSampleLog video(CSampleLog::Kind::Video, plan.Width, plan.Height);
    CSampleLog audio(CSampleLog::Kind::Audio);
    ASSERT_TRUE(ReadBack(avi, &video, &audio)) << "the platform's AVI source cannot play the export";
    const std::vector<DeliveredSample> pictures = video.Snapshot();
    ASSERT_EQ(plan.FrameCount(), pictures.size());
    for (size_t i = 0; i < pictures.size(); ++i) EXPECT_EQ(static_cast<int64_t>(i), pictures[i].Frame) << i;
    if (JsonField(run.Out, "sound_in_output") == "true") {
        int64_t next = 0;
        for (const DeliveredSample& sound : audio.Snapshot()) {
            EXPECT_EQ(next, sound.FirstTone) << "sound out of place";
            next = sound.FirstTone + sound.Bytes / 2;
        }
        EXPECT_EQ(static_cast<int64_t>(plan.SoundSamples()), next) << "sound missing";
    }
}

TEST_F(ExportTest, RefusedInputLeavesNoOutput) {
    const std::wstring avi = Temp.File(L"none.avi");
    const ChildResult run = Kxvplay({L"export", Temp.File(L"absent.kxr"), avi});
    EXPECT_EQ(2, run.ExitCode) << run.Err;
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(avi.c_str()));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((avi + L".partial").c_str()));
}

}  // namespace
