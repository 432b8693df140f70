#include "Commands.h"
#include "Console.h"
#include "GraphRun.h"
#include "PlaySummary.h"
#include "RangeSettings.h"
#include "SourceGraph.h"
#include "StreamTally.h"

#include <uuids.h>

namespace {

// With --realtime the platform's video renderer shows the pictures where it
// can connect (it may need the graph's own converters); without a usable
// display the Null Renderer takes its place.
void RenderVideo(CSourceGraph* graph, IPin* output, bool realtime) {
    if (realtime) {
        ComPtr<IBaseFilter> renderer = graph->AddFilter(CLSID_VideoRenderer, L"Video Renderer");
        if (SUCCEEDED(graph->ConnectToFilter(output, renderer.Get(), false))) return;
        graph->RemoveFilter(renderer.Get());
        CConsole::Err(L"kxvplay: the video renderer cannot be used here; playing into the Null Renderer\n");
    }
    graph->RenderNull(output, L"Video renderer");
}

}  // namespace

void RunPlay(const CommandOptions& options) {
    CSourceGraph graph;
    graph.Open(options.Arguments[0]);
    const CRangeSettings range(options, graph.Facts());
    range.Apply(&graph);
    const ComPtr<CStreamTally> video = CStreamTally::Create(CStreamTally::Kind::Video, range.StampLimit());
    const ComPtr<CStreamTally> audio = CStreamTally::Create(CStreamTally::Kind::Audio, range.StampLimit());
    RenderVideo(&graph, graph.Grab(0, video.Get()).Get(), options.Realtime);
    graph.GrabIntoNull(1, audio.Get());
    if (!options.Realtime) graph.Unclocked();
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
