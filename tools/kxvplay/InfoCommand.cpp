#include "AppError.h"
#include "Commands.h"
#include "Console.h"
#include "ContactSheet.h"
#include "HResultText.h"
#include "JsonObject.h"
#include "SourceGraph.h"
#include "StreamTally.h"

#include <uuids.h>

#include <cwchar>

namespace {

// How far into the recording the sound probe looks before it decides that
// there is no sound, and how long it may take in all.
constexpr REFERENCE_TIME ProbeSpan = 30000000;
constexpr DWORD ProbeMs = 20000;

// The filter always offers its sound pin; whether the recording holds sound
// shows only in what that pin delivers. A short unclocked run answers it.
bool ProbeSound(CSourceGraph* graph) {
    const ComPtr<CStreamTally> video =
        CStreamTally::Create(CStreamTally::Kind::Video, ProbeSpan);
    const ComPtr<CStreamTally> audio =
        CStreamTally::Create(CStreamTally::Kind::Audio, ProbeSpan);
    graph->GrabIntoNull(0, video.Get());
    graph->GrabIntoNull(1, audio.Get());
    graph->Unclocked();
    graph->Run();
    const DWORD began = GetTickCount();
    bool sound = false;
    for (;;) {
        long code = 0;
        LONG_PTR first = 0;
        const bool event = graph->NextEvent(100, &code, &first);
        sound = audio->Counts().AudibleSamples > 0;
        if (sound || (event && code == EC_COMPLETE) || video->Counts().ReachedLimit) break;
        if (event && (code == EC_ERRORABORT || code == EC_USERABORT)) {
            graph->Stop();
            throw CAppError(ExitCode::GraphFailure,
                            L"graph failure: the graph stopped with an error while probing the sound: " +
                                DescribeHResult(static_cast<HRESULT>(first)));
        }
        if (GetTickCount() - began >= ProbeMs) {
            graph->Stop();
            throw CAppError(ExitCode::GraphFailure,
                            L"graph failure: the sound probe got no answer within 20 s: " +
                                DescribeHResult(VFW_E_TIMEOUT));
        }
    }
    graph->Stop();
    return sound;
}

}  // namespace

void RunInfo(const CommandOptions& options) {
    CSourceGraph graph;
    graph.Open(options.Arguments[0]);
    const SourceFacts facts = graph.Facts();
    const bool sound = ProbeSound(&graph);
    const double seconds = static_cast<double>(facts.Duration) / 1e7;
    if (options.Json) {
        std::string pins = "[";
        for (size_t i = 0; i < facts.Pins.size(); ++i) {
            if (i) pins += ",";
            pins += CJsonObject()
                        .Add("id", facts.Pins[i].Id)
                        .Add("name", facts.Pins[i].Name)
                        .Add("type", facts.Pins[i].Type)
                        .Text();
        }
        pins += "]";
        CJsonObject json;
        json.Add("file", graph.FullPath())
            .Add("width", static_cast<int64_t>(facts.Width))
            .Add("height", static_cast<int64_t>(facts.Height))
            .Add("fps", static_cast<int64_t>(facts.FramesPerSecond))
            .Add("duration_seconds", seconds)
            .Add("frames", static_cast<int64_t>(facts.FrameTotal))
            .Add("picture_period_ms", facts.PicturePeriod / 1e4)
            .Add("pictures_per_second", facts.PicturePeriod > 0 ? 1e7 / facts.PicturePeriod : 0.0)
            .Add("sound", sound)
            .AddRaw("pins", pins);
        CConsole::OutUtf8(json.Text() + "\n");
        return;
    }
    const std::wstring soundText = sound ? L"yes, " + std::to_wstring(KX_PCM_RATE) + L" Hz mono 16-bit" : L"no";
    wchar_t text[512];
    swprintf(text, 512,
             L"File:       %ls\n"
             L"Picture:    %ldx%ld\n"
             L"Frame rate: %ld fps\n"
             L"Duration:   %.3f s (%hs)\n"
             L"Frames:     %lld\n"
             L"Period:     %.3f ms (%.3f pictures a second)\n"
             L"Sound:      %ls\n",
             graph.FullPath().c_str(), facts.Width, facts.Height, facts.FramesPerSecond, seconds,
             CContactSheet::TimeLabel(facts.Duration).c_str(), facts.FrameTotal, facts.PicturePeriod / 1e4,
             facts.PicturePeriod > 0 ? 1e7 / facts.PicturePeriod : 0.0,
             soundText.c_str());
    std::wstring out = text;
    for (const PinDescription& pin : facts.Pins) {
        out += L"Pin " + pin.Id + L" \"" + pin.Name + L"\": " + pin.Type + L"\n";
    }
    CConsole::Out(out);
}
