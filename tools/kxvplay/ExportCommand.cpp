#include "AppError.h"
#include "Commands.h"
#include "Console.h"
#include "GraphRun.h"
#include "HResultText.h"
#include "OutputFile.h"
#include "PlaySummary.h"
#include "RangeSettings.h"
#include "SourceGraph.h"
#include "StreamTally.h"
#include "tools/avi/AviFileWriter.h"

#include <dvdmedia.h>
#include <uuids.h>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

// The connection type of a pin, freed on destruction.
class CConnectionType {
public:
    explicit CConnectionType(IPin* pin) { Result = pin->ConnectionMediaType(&Type); }
    ~CConnectionType() {
        if (Type.cbFormat) CoTaskMemFree(Type.pbFormat);
        if (Type.pUnk) Type.pUnk->Release();
    }
    CConnectionType(const CConnectionType&) = delete;
    CConnectionType& operator=(const CConnectionType&) = delete;

    HRESULT Result = S_OK;
    AM_MEDIA_TYPE Type = {};
};

// Builds the platform's AVI Mux and File Writer onto the grabbers' outputs.
// True when they can write the whole export; otherwise they are taken out
// of the graph again, the grabbers' outputs are left free and reason says
// what the platform lacks.
bool BuildPlatformWriter(CSourceGraph* graph, IPin* videoOut, IPin* audioOut, const std::wstring& path,
                         std::wstring* reason) {
    ComPtr<IBaseFilter> mux = graph->AddFilter(CLSID_AviDest, L"AVI Mux");
    ComPtr<IBaseFilter> writer = graph->AddFilter(CLSID_FileWriter, L"File Writer");
    const auto refuse = [&](const std::wstring& why, HRESULT hr) {
        graph->RemoveFilter(mux.Get());
        graph->RemoveFilter(writer.Get());
        *reason = why + L": " + DescribeHResult(hr);
        return false;
    };
    // Full interleaving needs no clock, which an unclocked export lacks.
    ComPtr<IConfigInterleaving> interleaving;
    if (SUCCEEDED(mux.As(&interleaving))) interleaving->put_Mode(INTERLEAVE_FULL);
    ComPtr<IFileSinkFilter> sink;
    HRESULT hr = writer.As(&sink);
    if (SUCCEEDED(hr)) hr = sink->SetFileName(path.c_str(), nullptr);
    if (FAILED(hr)) return refuse(L"the File Writer does not take the output name", hr);
    hr = graph->ConnectKeepingType(videoOut, graph->SourcePin(0).Get(), mux.Get());
    if (FAILED(hr)) return refuse(L"the AVI Mux refused the pictures", hr);
    hr = graph->ConnectKeepingType(audioOut, graph->SourcePin(1).Get(), mux.Get());
    if (FAILED(hr)) return refuse(L"the AVI Mux refused the sound", hr);
    ComPtr<IEnumPins> pins;
    ComPtr<IPin> muxOut;
    if (SUCCEEDED(mux->EnumPins(&pins))) {
        ComPtr<IPin> pin;
        while (!muxOut && pins->Next(1, pin.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
            PIN_DIRECTION direction;
            if (SUCCEEDED(pin->QueryDirection(&direction)) && direction == PINDIR_OUTPUT) muxOut = pin;
        }
    }
    hr = muxOut ? graph->ConnectToFilter(muxOut.Get(), writer.Get(), true) : VFW_E_NOT_FOUND;
    if (FAILED(hr)) return refuse(L"the AVI Mux does not connect to the File Writer", hr);
    // The AVI Mux writes its file through the IStream of the pin it feeds;
    // a File Writer without one makes the mux fault on its first sample.
    ComPtr<IPin> writerIn;
    ComPtr<IStream> writerStream;
    hr = muxOut->ConnectedTo(&writerIn);
    if (SUCCEEDED(hr)) hr = writerIn.As(&writerStream);
    if (FAILED(hr)) return refuse(L"the File Writer offers the AVI Mux no IStream", hr);
    return true;
}

[[noreturn]] void CannotWrite(const std::wstring& path, HRESULT hr) {
    throw CAppError(ExitCode::OutputFailure, L"output cannot be written: " + path + L": " + DescribeHResult(hr));
}

// kxvplay's own writer fed by the grabbers' callbacks, which see exactly
// the samples the tallies count; the grabbers end in Null Renderers.
std::shared_ptr<CAviFileWriter> BuildOwnWriter(CSourceGraph* graph, IPin* videoOut, IPin* audioOut,
                                               CStreamTally* video, CStreamTally* audio, const std::wstring& path,
                                               const std::wstring& finalPath) {
    const CConnectionType videoType(graph->SourcePin(0).Get());
    const CConnectionType audioType(graph->SourcePin(1).Get());
    if (FAILED(videoType.Result) || videoType.Type.formattype != FORMAT_VideoInfo ||
        videoType.Type.cbFormat < sizeof(VIDEOINFOHEADER) || videoType.Type.subtype != MEDIASUBTYPE_YUY2) {
        throw CAppError(ExitCode::GraphFailure, L"graph failure: the pictures are not YUY2 with a video header: " +
                                                    DescribeHResult(FAILED(videoType.Result) ? videoType.Result
                                                                                             : VFW_E_INVALIDMEDIATYPE));
    }
    if (FAILED(audioType.Result) || audioType.Type.formattype != FORMAT_WaveFormatEx ||
        audioType.Type.cbFormat < sizeof(PCMWAVEFORMAT)) {
        throw CAppError(ExitCode::GraphFailure, L"graph failure: the sound is not PCM with a wave format: " +
                                                    DescribeHResult(FAILED(audioType.Result) ? audioType.Result
                                                                                             : VFW_E_INVALIDMEDIATYPE));
    }
    const auto* header = reinterpret_cast<const VIDEOINFOHEADER*>(videoType.Type.pbFormat);
    AviVideoFormat format;
    format.Width = static_cast<uint32_t>(header->bmiHeader.biWidth);
    format.Height = static_cast<uint32_t>(std::abs(header->bmiHeader.biHeight));
    format.PictureBytes = format.Width * format.Height * 2;
    format.PictureDuration100ns = graph->Facts().PictureStep;
    WAVEFORMATEX sound = {};
    std::memcpy(&sound, audioType.Type.pbFormat, sizeof(PCMWAVEFORMAT));

    auto writer = std::make_shared<CAviFileWriter>();
    const HRESULT hr = writer->Open(path, format, &sound);
    if (FAILED(hr)) CannotWrite(finalPath, hr);
    // A failed write sticks in the writer and is reported by Finish.
    video->SetSampleHandler([writer](uint64_t, REFERENCE_TIME, const BYTE* data, long bytes) {
        writer->AddPicture(data, static_cast<uint32_t>(bytes));
    });
    audio->SetSampleHandler([writer](uint64_t, REFERENCE_TIME, const BYTE* data, long bytes) {
        writer->AddSound(data, static_cast<uint32_t>(bytes));
    });
    graph->RenderNull(videoOut, L"Video renderer");
    graph->RenderNull(audioOut, L"Audio renderer");
    return writer;
}

}  // namespace

void RunExport(const CommandOptions& options) {
    COutputFile output(options.Arguments[1]);
    TallyCounts videoCounts, audioCounts;
    RunOutcome outcome;
    std::wstring source;
    bool platform = false;
    std::shared_ptr<CAviFileWriter> own;
    {
        // The graph, and with it the File Writer's handle on the temporary
        // file, is gone before the file is moved or deleted.
        CSourceGraph graph;
        graph.Open(options.Arguments[0]);
        source = graph.FullPath();
        const CRangeSettings range(options, graph.Facts());
        range.Apply(&graph);
        const ComPtr<CStreamTally> video =
            CStreamTally::Create(CStreamTally::Kind::Video, range.StampLimit());
        const ComPtr<CStreamTally> audio =
            CStreamTally::Create(CStreamTally::Kind::Audio, range.StampLimit());
        ComPtr<IPin> videoOut = graph.Grab(0, video.Get());
        ComPtr<IPin> audioOut = graph.Grab(1, audio.Get());
        std::wstring reason;
        platform = BuildPlatformWriter(&graph, videoOut.Get(), audioOut.Get(), output.TemporaryPath(), &reason);
        if (platform) {
            CConsole::Err(L"kxvplay: writing the AVI through the platform's AVI Mux and File Writer\n");
        } else {
            CConsole::Err(L"kxvplay: writing the AVI with kxvplay's own writer (" + reason + L")\n");
            own = BuildOwnWriter(&graph, videoOut.Get(), audioOut.Get(), video.Get(), audio.Get(),
                                 output.TemporaryPath(), output.FinalPath());
        }
        graph.Unclocked();
        CGraphRun run(&graph, video.Get(), audio.Get(), range.ForRun(L"exporting"));
        outcome = run.Run();
        if (FAILED(outcome.StopResult)) {
            throw CAppError(ExitCode::GraphFailure,
                            L"graph failure: stopping the export: " + DescribeHResult(outcome.StopResult));
        }
        videoCounts = video->Counts();
        audioCounts = audio->Counts();
    }
    if (own) {
        const HRESULT hr = own->Finish();
        if (FAILED(hr)) CannotWrite(output.FinalPath(), hr);
    }
    if (videoCounts.Samples == 0) {
        throw CAppError(ExitCode::GraphFailure,
                        L"graph failure: the export received no picture: " +
                            DescribeHResult(VFW_E_SAMPLE_REJECTED_EOS));
    }
    output.Commit();
    const CPlaySummary summary(videoCounts, audioCounts, outcome);
    if (options.Json) {
        CJsonObject json;
        json.Add("file", source)
            .Add("output", output.FinalPath())
            .Add("writer", std::wstring(platform ? L"platform" : L"kxvplay"))
            .Add("sound_in_output", true);
        summary.AddTo(&json);
        CConsole::OutUtf8(json.Text() + "\n");
    } else {
        CConsole::Out(L"Wrote " + output.FinalPath() + L"\n" + summary.Text());
    }
}
