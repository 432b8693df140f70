#include "Commands.h"
#include "Console.h"
#include "GraphRun.h"
#include "PlaySummary.h"
#include "RangeSettings.h"
#include "SourceGraph.h"
#include "StreamTally.h"

#include <string>

namespace {

// With --realtime the graph's own intelligent connection takes each stream
// to the platform's renderers: the video renderer behind whatever converters
// it needs, and the default audio renderer. A stream for which none can be
// had (no display, no sound device) plays into a Null Renderer, said once.
void RenderRealtime(CSourceGraph* graph, IPin* video, IPin* audio) {
    std::wstring missing;
    if (FAILED(graph->Render(video))) {
        graph->RenderNull(video, L"Video renderer");
        missing = L"no video renderer";
    }
    if (FAILED(graph->Render(audio))) {
        graph->RenderNull(audio, L"Audio renderer");
        missing += missing.empty() ? L"no audio renderer" : L" and no audio renderer";
    }
    if (!missing.empty()) {
        CConsole::Err(L"kxvplay: " + missing + L" can be used here; playing into the Null Renderer instead\n");
    }
    const std::wstring& path = graph->FullPath();
    graph->NameVideoWindow(L"kxvplay - " + path.substr(path.find_last_of(L"\\/") + 1));
}

}  // namespace

void RunPlay(const CommandOptions& options) {
    CSourceGraph graph;
    graph.Open(options.Arguments[0]);
    const CRangeSettings range(options, graph.Facts());
    range.Apply(&graph);
    const ComPtr<CStreamTally> video = CStreamTally::Create(CStreamTally::Kind::Video, range.StampLimit());
    const ComPtr<CStreamTally> audio = CStreamTally::Create(CStreamTally::Kind::Audio, range.StampLimit());
    if (options.Realtime) {
        RenderRealtime(&graph, graph.Grab(0, video.Get()).Get(), graph.Grab(1, audio.Get()).Get());
    } else {
        graph.GrabIntoNull(0, video.Get());
        graph.GrabIntoNull(1, audio.Get());
        graph.Unclocked();
    }
    CGraphRun run(&graph, video.Get(), audio.Get(), range.ForRun(L"playing"));
    const RunOutcome outcome = run.Run();
    const CPlaySummary summary(video->Counts(), audio->Counts(), outcome);
    if (options.Json) {
        CJsonObject json;
        json.Add("file", graph.FullPath());
        summary.AddTo(&json);
        CConsole::OutUtf8(json.Text() + "\n");
    } else {
        CConsole::Out(summary.Text());
    }
}
