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

#include <uuids.h>

void RunExport(const CommandOptions& options) {
    COutputFile output(options.Arguments[1]);
    TallyCounts videoCounts, audioCounts;
    RunOutcome outcome;
    std::wstring source;
    HRESULT soundRefused = S_OK;
    {
        // The graph, and with it the File Writer's handle on the temporary
        // file, is gone before the file is moved or deleted.
        CSourceGraph graph;
        graph.Open(options.Arguments[0]);
        source = graph.FullPath();
        const CRangeSettings range(options, graph.Facts());
        range.Apply(&graph);
        const ComPtr<CStreamTally> video =
            CStreamTally::Create(CStreamTally::Kind::Video, graph.Facts().PictureStep, range.StampLimit());
        const ComPtr<CStreamTally> audio =
            CStreamTally::Create(CStreamTally::Kind::Audio, 0, range.StampLimit());
        ComPtr<IPin> videoOut = graph.Grab(0, video.Get());
        ComPtr<IPin> audioOut = graph.Grab(1, audio.Get());
        ComPtr<IBaseFilter> mux = graph.AddFilter(CLSID_AviDest, L"AVI Mux");
        // Full interleaving needs no clock, which an unclocked export lacks.
        ComPtr<IConfigInterleaving> interleaving;
        if (SUCCEEDED(mux.As(&interleaving))) interleaving->put_Mode(INTERLEAVE_FULL);
        ComPtr<IBaseFilter> writer = graph.AddFilter(CLSID_FileWriter, L"File Writer");
        ComPtr<IFileSinkFilter> sink;
        HRESULT hr = writer.As(&sink);
        if (SUCCEEDED(hr)) hr = sink->SetFileName(output.TemporaryPath().c_str(), nullptr);
        if (FAILED(hr)) {
            throw CAppError(ExitCode::OutputFailure,
                            L"cannot write " + output.TemporaryPath() + L": " + DescribeHResult(hr));
        }
        hr = graph.ConnectKeepingType(videoOut.Get(), graph.SourcePin(0).Get(), mux.Get());
        if (FAILED(hr)) {
            throw CAppError(ExitCode::GraphFailure, L"graph failure: cannot connect the pictures to the AVI Mux: " +
                                                        DescribeHResult(hr));
        }
        hr = graph.ConnectKeepingType(audioOut.Get(), graph.SourcePin(1).Get(), mux.Get());
        if (hr == E_NOTIMPL || hr == VFW_E_TYPE_NOT_ACCEPTED || hr == VFW_E_NO_ACCEPTABLE_TYPES) {
            // Some AVI Mux implementations (Wine's among them) take video
            // only. The pictures are still worth having; the sound is played
            // out and counted so the user is told exactly what is missing.
            soundRefused = hr;
            graph.RenderNull(audioOut.Get(), L"Audio renderer");
        } else if (FAILED(hr)) {
            throw CAppError(ExitCode::GraphFailure, L"graph failure: cannot connect the sound to the AVI Mux: " +
                                                        DescribeHResult(hr));
        }
        ComPtr<IEnumPins> pins;
        ComPtr<IPin> muxOut;
        if (SUCCEEDED(mux->EnumPins(&pins))) {
            ComPtr<IPin> pin;
            while (!muxOut && pins->Next(1, pin.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
                PIN_DIRECTION direction;
                if (SUCCEEDED(pin->QueryDirection(&direction)) && direction == PINDIR_OUTPUT) muxOut = pin;
            }
        }
        hr = muxOut ? graph.ConnectToFilter(muxOut.Get(), writer.Get(), true) : VFW_E_NOT_FOUND;
        if (FAILED(hr)) {
            throw CAppError(ExitCode::GraphFailure, L"graph failure: cannot connect the AVI Mux to the File Writer: " +
                                                        DescribeHResult(hr));
        }
        // The AVI Mux writes its file through the IStream of the pin it
        // feeds; a File Writer without one (Wine 8's) makes the mux fault on
        // its first sample, so that is refused before anything runs.
        ComPtr<IPin> writerIn;
        ComPtr<IStream> writerStream;
        hr = muxOut->ConnectedTo(&writerIn);
        if (SUCCEEDED(hr)) hr = writerIn.As(&writerStream);
        if (FAILED(hr)) {
            throw CAppError(ExitCode::GraphFailure,
                            L"graph failure: this platform's File Writer offers the AVI Mux no IStream to write "
                            L"through, so AVI export is not possible here: " +
                                DescribeHResult(hr));
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
    if (videoCounts.Samples == 0) {
        throw CAppError(ExitCode::GraphFailure,
                        L"graph failure: the export received no picture: " +
                            DescribeHResult(VFW_E_SAMPLE_REJECTED_EOS));
    }
    output.Commit();
    const CPlaySummary summary(videoCounts, audioCounts, outcome);
    if (options.Json) {
        CJsonObject json;
        json.Add("file", source).Add("output", output.FinalPath()).Add("sound_in_output", soundRefused == S_OK);
        summary.AddTo(&json);
        CConsole::OutUtf8(json.Text() + "\n");
    } else {
        CConsole::Out(L"Wrote " + output.FinalPath() + L"\n" + summary.Text());
    }
    if (soundRefused != S_OK) {
        CConsole::Err(L"kxvplay: warning: the AVI Mux refused the sound (" + DescribeHResult(soundRefused) +
                      L"); " + output.FinalPath() + L" holds the pictures only\n");
    }
}
