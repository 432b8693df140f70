// The streamed exports: the pictures as YUV4MPEG2 or the sound as WAV. Only
// the stream's own pin is connected, through its tally's Sample Grabber into
// a Null Renderer; the other pin stays unconnected. Each sample is written
// to the output as it arrives, the stream header with the first one, so an
// export that receives nothing writes nothing. A WAV whose output can seek
// gets its sizes at the end; on a pipe they stay "unknown".
//
// Build, Failed and Finish run on the main thread; the tally's handler
// writes on the stream's worker thread under the tally's lock. What the
// handler uses lives in a shared Sink, as the grabber keeps the tally and
// its handler until the graph is torn down; Finish reads it after that.
#pragma once

#include "SourceGraph.h"
#include "StreamOutput.h"
#include "StreamTally.h"

#include <memory>

class CStreamExport {
public:
    enum class Format { Y4m, Wav };

    CStreamExport(Format format, std::shared_ptr<CStreamOutput> output);

    // Connects the stream's pin and sets the tally's handler; the stream
    // header comes from the pin's connection type. Throws
    // CAppError(GraphFailure) when the type is not what the format carries.
    void Build(CSourceGraph* graph, CStreamTally* tally);
    // Whether the output broke, so that running on is pointless.
    bool Failed() const;
    // After the graph is gone: completes the WAV sizes where the output can
    // seek and closes it. Throws CAppError(OutputFailure) on any write
    // failure, CAppError(GraphFailure) for a picture that came short.
    void Finish();

private:
    struct Sink;

    void BuildPictures(CSourceGraph* graph, CStreamTally* tally);
    void BuildSound(CSourceGraph* graph, CStreamTally* tally);

    const Format Kind;
    std::shared_ptr<Sink> Shared;
};
