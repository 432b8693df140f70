// The part of a file a command covers (--start/--stop), checked against the
// duration and applied to the source's pins, and the stamp limit that
// marks the stop for the tallies. Main thread.
#pragma once

#include "CommandLine.h"
#include "GraphRun.h"
#include "SourceGraph.h"

class CRangeSettings {
public:
    // Throws CAppError(Usage) for a start at or past the end.
    CRangeSettings(const CommandOptions& options, const SourceFacts& facts);

    void Apply(CSourceGraph* graph) const;
    // Stamps at or after this are past the stop (unlimited without --stop).
    REFERENCE_TIME StampLimit() const;
    RunSettings ForRun(const std::wstring& verb) const;

    REFERENCE_TIME Start = 0;
    REFERENCE_TIME Stop = 0;
    bool HasStop = false;
    double Rate = 1.0;
    bool Moved = false;
};
