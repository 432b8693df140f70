// A filter graph around the "KXVD Source File" filter, built as any
// third-party application builds it: the graph manager and the filter
// created through COM by class id, the file given through
// IFileSourceFilter::Load; or, as players build it, from the path alone. Owns every COM reference of the graph; used on the
// main thread only. Failures throw CAppError with the exit code that tells
// the user what to fix.
#pragma once

#include <dshow.h>
#include <qedit.h>
#include <wrl/client.h>

#include <string>
#include <vector>

using Microsoft::WRL::ComPtr;

struct PinDescription {
    std::wstring Id;
    std::wstring Name;
    std::wstring Type;          // one line, e.g. "Video YUY2 352x288 ..."
};

struct SourceFacts {
    long Width = 0;
    long Height = 0;
    long FramesPerSecond = 0;
    REFERENCE_TIME PictureStep = 0;   // one picture's period at rate 1.0 (AvgTimePerFrame)
    REFERENCE_TIME Duration = 0;      // 100-ns units
    long long FrameTotal = 0;         // the library's, from the video pin in pictures
    double PicturePeriod = 0;         // exact: Duration / FrameTotal (100-ns units)
    std::vector<PinDescription> Pins;
};

class CSourceGraph {
public:
    CSourceGraph();
    ~CSourceGraph();
    CSourceGraph(const CSourceGraph&) = delete;
    CSourceGraph& operator=(const CSourceGraph&) = delete;

    // Checks the file, creates the graph and the filter, and loads the file.
    void Open(const std::wstring& file);
    // Checks the file and has the graph manager build the whole graph from
    // the path (RenderFile): the source filter it finds in the registry and
    // the renderers. A source other than ours is NotRegistered, with how to
    // register the file type; RenderFile's result (S_OK or a partial one).
    HRESULT OpenByPath(const std::wstring& file);
    // The names of the graph's filters, the source first.
    std::vector<std::wstring> FilterNames();
    // Captions the graph's video window, where it has one.
    void NameVideoWindow(const std::wstring& caption);

    const SourceFacts& Facts() const { return Info; }
    const std::wstring& FullPath() const { return Path; }

    // The source's pins: 0 video, 1 audio.
    ComPtr<IPin> SourcePin(int index);
    ComPtr<IBaseFilter> AddFilter(const CLSID& id, const wchar_t* name);
    // A Sample Grabber for the given major type with its callback, connected
    // straight to the output pin; returns the grabber's output pin.
    ComPtr<IPin> AddGrabber(IPin* output, const GUID& major, ISampleGrabberCB* callback, const wchar_t* name);
    // Connects output to the filter's first free input pin; direct or through
    // the graph's own converters. The HRESULT, not thrown.
    HRESULT ConnectToFilter(IPin* output, IBaseFilter* filter, bool direct);
    // Connects output directly to the filter's first free input pin with
    // the media type that output already carries upstream (its own
    // connection type), for filters that do not propose types themselves.
    HRESULT ConnectKeepingType(IPin* output, IPin* typeSource, IBaseFilter* filter);
    // Removes a filter that could not be connected.
    void RemoveFilter(IBaseFilter* filter);
    void RenderNull(IPin* output, const wchar_t* name);
    // The graph's own intelligent connection from output to a renderer. The
    // HRESULT, not thrown.
    HRESULT Render(IPin* output);
    // Source pin index (0 video, 1 audio) through a Sample Grabber with the
    // callback; returns the grabber's output pin, still to be rendered.
    ComPtr<IPin> Grab(int index, ISampleGrabberCB* callback);
    // The same, rendered into a Null Renderer.
    void GrabIntoNull(int index, ISampleGrabberCB* callback);

    // Positions (and rate) on both source pins; the audio pin moves the file.
    void SetRange(REFERENCE_TIME start, REFERENCE_TIME stop);
    void SetRate(double rate);
    void Unclocked();

    void Run();
    // Stops a running graph; its result (S_OK when never run).
    HRESULT Stop();
    // Waits up to timeoutMs for a graph event. True with the code when one
    // came; false when none did.
    bool NextEvent(DWORD timeoutMs, long* code, LONG_PTR* first);

private:
    void CheckReadable(const std::wstring& file);
    void CreateGraph();
    void CreateSource();
    void CheckLibrary();
    void Describe();
    [[noreturn]] void GraphFailed(const std::wstring& what, HRESULT hr);

    std::wstring Path;
    SourceFacts Info;
    ComPtr<IGraphBuilder> Graph;
    ComPtr<IMediaControl> Control;
    ComPtr<IMediaEvent> Events;
    ComPtr<IBaseFilter> Source;
    bool Running = false;
};
