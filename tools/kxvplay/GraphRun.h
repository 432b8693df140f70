// Runs a built source graph to its end and keeps the user informed: waits on
// the graph's events, shows progress, ends when the graph completes, when
// both streams passed the wanted stop or when the caller abandons the run,
// and turns aborts and stalls into graph failures. Main thread only; the
// tallies are filled on the source's worker threads.
#pragma once

#include "SourceGraph.h"
#include "StreamTally.h"

#include <functional>
#include <string>

struct RunSettings {
    std::wstring Verb;               // "playing", "exporting", ...
    REFERENCE_TIME RangeStart = 0;   // file position of stamp 0
    REFERENCE_TIME RangeEnd = 0;     // file position where the run ends
    double Rate = 1.0;
    bool HasStop = false;            // the tallies carry a limit to wait for
    bool Progress = true;
    // Asked between events; true ends the run early (an output that broke).
    std::function<bool()> Abandon;
};

struct RunOutcome {
    bool Completed = false;          // the graph reported EC_COMPLETE
    bool ReachedStop = false;        // both streams passed the stop
    bool Abandoned = false;          // Abandon said so
    HRESULT StopResult = S_OK;       // of stopping the graph afterwards
    double WallSeconds = 0;
};

class CGraphRun {
public:
    // A tally is null for a pin left unconnected, whose stream counts as
    // ended from the start.
    CGraphRun(CSourceGraph* graph, CStreamTally* video, CStreamTally* audio, RunSettings settings);
    CGraphRun(const CGraphRun&) = delete;
    CGraphRun& operator=(const CGraphRun&) = delete;

    // Throws CAppError(GraphFailure) on an abort or a stall.
    RunOutcome Run();

private:
    void ShowProgress(bool last);
    std::wstring ProgressText() const;
    static TallyCounts CountsOf(const CStreamTally* tally);

    CSourceGraph* const Graph;
    CStreamTally* const Video;
    CStreamTally* const Audio;
    const RunSettings Settings;
    const bool Terminal;
    DWORD Began = 0;
    DWORD LastShown = 0;
    bool ShownAny = false;
};
