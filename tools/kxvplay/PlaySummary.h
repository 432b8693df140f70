// The summary of a run of the graph: pictures and sound delivered, gaps and
// repeats in their stamps, wall time and pictures per second; printed as
// text or as one JSON object. Plain value; main thread.
#pragma once

#include "GraphRun.h"
#include "JsonObject.h"
#include "StreamTally.h"

#include <string>

class CPlaySummary {
public:
    CPlaySummary(const TallyCounts& video, const TallyCounts& audio, const RunOutcome& outcome);

    // Adds the summary's fields to a JSON object.
    void AddTo(CJsonObject* json) const;
    std::wstring Text() const;

private:
    TallyCounts Video;
    TallyCounts Audio;
    RunOutcome Outcome;
};
