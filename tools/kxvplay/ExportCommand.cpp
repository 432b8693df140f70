#include "AppError.h"
#include "Commands.h"
#include "ConnectionType.h"
#include "Console.h"
#include "GraphRun.h"
#include "HResultText.h"
#include "OutputFile.h"
#include "PlaySummary.h"
#include "RangeSettings.h"
#include "SourceGraph.h"
#include "StreamExport.h"
#include "StreamOutput.h"
#include "StreamTally.h"
#include "formats/avi/AviFileWriter.h"

#include <dvdmedia.h>
#include <uuids.h>

#include <cstdlib>
#include <cstring>
#include <cwctype>
#include <memory>

namespace {

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
    const VIDEOINFOHEADER* header = videoType.Yuy2Video();
    if (!header) {
        throw CAppError(ExitCode::GraphFailure, L"graph failure: the pictures are not YUY2 with a video header: " +
                                                    DescribeHResult(FAILED(videoType.Result) ? videoType.Result
                                                                                             : VFW_E_INVALIDMEDIATYPE));
    }
    const PCMWAVEFORMAT* pcm = audioType.PcmSound();
    if (!pcm) {
        throw CAppError(ExitCode::GraphFailure, L"graph failure: the sound is not PCM with a wave format: " +
                                                    DescribeHResult(FAILED(audioType.Result) ? audioType.Result
                                                                                             : VFW_E_INVALIDMEDIATYPE));
    }
    AviVideoFormat format;
    format.Width = static_cast<uint32_t>(header->bmiHeader.biWidth);
    format.Height = static_cast<uint32_t>(std::abs(header->bmiHeader.biHeight));
    format.PictureBytes = format.Width * format.Height * 2;
    format.PictureDuration100ns = graph->Facts().PictureStep;
    WAVEFORMATEX sound = {};
    std::memcpy(&sound, pcm, sizeof(PCMWAVEFORMAT));

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

enum class ExportFormat { Avi, Y4m, Wav };

// --format's choice, else the output's extension; standard output takes the
// streamed formats only.
ExportFormat ChooseFormat(const CommandOptions& options, bool toStandardOutput) {
    const std::wstring& output = options.Arguments[1];
    std::wstring name = options.Format;
    if (name.empty() && !toStandardOutput) {
        const size_t dot = output.find_last_of(L'.');
        const size_t separator = output.find_last_of(L"\\/");
        if (dot != std::wstring::npos && (separator == std::wstring::npos || dot > separator)) {
            name = output.substr(dot + 1);
            for (wchar_t& c : name) c = static_cast<wchar_t>(towlower(c));
        }
    }
    if (name == L"y4m") return ExportFormat::Y4m;
    if (name == L"wav") return ExportFormat::Wav;
    if (toStandardOutput) {
        // An AVI's headers are completed at the end, which a pipe cannot take.
        throw CAppError(ExitCode::Usage, std::wstring(name.empty() ? L"export to standard output needs"
                                                                   : L"an AVI cannot go to standard output; use") +
                                             L" --format y4m or --format wav (see kxvplay --help)");
    }
    return ExportFormat::Avi;
}

const wchar_t* FormatName(ExportFormat format) {
    return format == ExportFormat::Y4m ? L"y4m" : format == ExportFormat::Wav ? L"wav" : L"avi";
}

}  // namespace

void RunExport(const CommandOptions& options) {
    const bool toStandardOutput = options.Arguments[1] == L"-";
    const ExportFormat format = ChooseFormat(options, toStandardOutput);
    std::unique_ptr<COutputFile> file;
    if (!toStandardOutput) file = std::make_unique<COutputFile>(options.Arguments[1]);
    TallyCounts videoCounts, audioCounts;
    RunOutcome outcome;
    std::wstring source;
    bool platform = false;
    std::shared_ptr<CAviFileWriter> own;
    std::unique_ptr<CStreamExport> stream;
    {
        // The graph, and with it every handle on the temporary file, is gone
        // before the file is moved or deleted.
        CSourceGraph graph;
        graph.Open(options.Arguments[0]);
        source = graph.FullPath();
        const CRangeSettings range(options, graph.Facts());
        range.Apply(&graph);
        const ComPtr<CStreamTally> video =
            CStreamTally::Create(CStreamTally::Kind::Video, range.StampLimit());
        const ComPtr<CStreamTally> audio =
            CStreamTally::Create(CStreamTally::Kind::Audio, range.StampLimit());
        RunSettings settings = range.ForRun(L"exporting");
        if (format == ExportFormat::Avi) {
            ComPtr<IPin> videoOut = graph.Grab(0, video.Get());
            ComPtr<IPin> audioOut = graph.Grab(1, audio.Get());
            std::wstring reason;
            platform = BuildPlatformWriter(&graph, videoOut.Get(), audioOut.Get(), file->TemporaryPath(), &reason);
            if (platform) {
                CConsole::Err(L"kxvplay: writing the AVI through the platform's AVI Mux and File Writer\n");
            } else {
                CConsole::Err(L"kxvplay: writing the AVI with kxvplay's own writer (" + reason + L")\n");
                own = BuildOwnWriter(&graph, videoOut.Get(), audioOut.Get(), video.Get(), audio.Get(),
                                     file->TemporaryPath(), file->FinalPath());
            }
        } else {
            std::shared_ptr<CStreamOutput> output =
                toStandardOutput ? CStreamOutput::StandardOutput()
                                 : CStreamOutput::NewFile(file->TemporaryPath(), file->FinalPath());
            stream = std::make_unique<CStreamExport>(
                format == ExportFormat::Y4m ? CStreamExport::Format::Y4m : CStreamExport::Format::Wav, output);
            stream->Build(&graph, format == ExportFormat::Y4m ? video.Get() : audio.Get());
            const CStreamExport* watched = stream.get();
            settings.Abandon = [watched] { return watched->Failed(); };
        }
        graph.Unclocked();
        // The pin a streamed export leaves unconnected delivers nothing.
        CGraphRun run(&graph, format == ExportFormat::Wav ? nullptr : video.Get(),
                      format == ExportFormat::Y4m ? nullptr : audio.Get(), settings);
        outcome = run.Run();
        if (FAILED(outcome.StopResult) && !outcome.Abandoned) {
            throw CAppError(ExitCode::GraphFailure,
                            L"graph failure: stopping the export: " + DescribeHResult(outcome.StopResult));
        }
        videoCounts = video->Counts();
        audioCounts = audio->Counts();
    }
    if (own) {
        const HRESULT hr = own->Finish();
        if (FAILED(hr)) CannotWrite(file->FinalPath(), hr);
    }
    if (stream) stream->Finish();
    if (format == ExportFormat::Wav ? audioCounts.Samples == 0 : videoCounts.Samples == 0) {
        const wchar_t* missing =
            format == ExportFormat::Wav ? L"no sound (the recording may have none)" : L"no picture";
        throw CAppError(ExitCode::GraphFailure, std::wstring(L"graph failure: the export received ") + missing +
                                                    L": " + DescribeHResult(VFW_E_SAMPLE_REJECTED_EOS));
    }
    if (file) file->Commit();
    const std::wstring written = file ? file->FinalPath() : std::wstring(L"-");
    const CPlaySummary summary(videoCounts, audioCounts, outcome);
    // Standard output may carry the export itself; the summary then goes
    // where the progress went.
    if (options.Json) {
        CJsonObject json;
        json.Add("file", source)
            .Add("output", written)
            .Add("format", std::wstring(FormatName(format)))
            .Add("writer", std::wstring(platform ? L"platform" : L"kxvplay"))
            .Add("sound_in_output", format != ExportFormat::Y4m);
        summary.AddTo(&json);
        const std::string text = json.Text() + "\n";
        if (toStandardOutput) {
            CConsole::ErrUtf8(text);
        } else {
            CConsole::OutUtf8(text);
        }
    } else {
        const std::wstring text = L"Wrote " + (file ? file->FinalPath() : std::wstring(L"standard output")) +
                                  L" (" + FormatName(format) + L")\n" + summary.Text();
        if (toStandardOutput) {
            CConsole::Err(text);
        } else {
            CConsole::Out(text);
        }
    }
}
