// One filter graph of the bench: either the module's source with each pin
// into a Null Renderer (the video branch optionally through a Sample Grabber
// with a tap), or the platform's File Source (Async) with its AVI splitter
// into Null Renderers. Owns the graph and its filters. Used on one bench
// thread at a time: the many-files run builds graphs on its main thread and
// hands each to a thread of its own that runs, waits for, stops and destroys
// it (the graph's objects are free-threaded). Taps are called on the
// source's workers.
#pragma once

#include "bench/ModuleFactory.h"
#include "bench/SampleTap.h"

#include <dshow.h>
#include <wrl/client.h>

#include <string>

struct KxGraphOptions {
    bool Clock = false;             // keep the graph's clock; otherwise unclocked
    bool Audio = true;              // connect the audio pin too
    CSampleTap* VideoTap = nullptr; // a Sample Grabber before the video renderer
    CSampleTap* AudioTap = nullptr; // and one before the audio renderer
};

// How a wait for the end of a graph came out.
enum class GraphEnd { Complete, Aborted, NotEnded };

class CBenchGraph {
public:
    CBenchGraph() = default;
    ~CBenchGraph();
    CBenchGraph(const CBenchGraph&) = delete;
    CBenchGraph& operator=(const CBenchGraph&) = delete;

    // The module's graph; LoadSeconds() tells how long Load took to return.
    HRESULT BuildModule(CModuleFactory* module, const std::wstring& recording, const KxGraphOptions& options);
    // The platform's AVI path, unclocked; the tap (if any) before the video renderer.
    HRESULT BuildAvi(const std::wstring& avi, CSampleTap* tap);

    HRESULT Run();
    HRESULT Pause();
    HRESULT Stop();
    // Waits for EC_COMPLETE; false on an abort or when timeoutMs runs out.
    bool WaitForComplete(DWORD timeoutMs) { return WaitForEnd(timeoutMs, nullptr) == GraphEnd::Complete; }
    // Waits for EC_COMPLETE, EC_ERRORABORT or EC_USERABORT; NotEnded when
    // timeoutMs runs out or the event queue fails. An abort's code goes to
    // *abortCode (if not null).
    GraphEnd WaitForEnd(DWORD timeoutMs, HRESULT* abortCode);
    HRESULT SeekTo(REFERENCE_TIME start);

    double LoadSeconds() const { return LoadTime; }
    // The instant Load was called, in performance-counter ticks.
    int64_t LoadStartTicks() const { return LoadStart; }
    IBaseFilter* Source() const { return SourceFilter.Get(); }

private:
    HRESULT MakeGraph();
    HRESULT AddFilter(const CLSID& clsid, const wchar_t* name, IBaseFilter** filter);
    HRESULT Render(IPin* out, CSampleTap* tap, const wchar_t* name);
    HRESULT Unclock();

    Microsoft::WRL::ComPtr<IGraphBuilder> Graph;
    Microsoft::WRL::ComPtr<IMediaControl> Control;
    Microsoft::WRL::ComPtr<IMediaEvent> Events;
    Microsoft::WRL::ComPtr<IMediaSeeking> Seeking;
    Microsoft::WRL::ComPtr<IBaseFilter> SourceFilter;
    double LoadTime = 0;
    int64_t LoadStart = 0;
};

// The first pin of a filter in the given direction that is not yet connected.
Microsoft::WRL::ComPtr<IPin> FreePin(IBaseFilter* filter, PIN_DIRECTION direction);
