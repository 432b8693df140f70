// A graph as applications build it: the filter created by its class id,
// given a file through IFileSourceFilter, each wanted pin through a Sample
// Grabber (logging every sample) into a Null Renderer; or, as players build
// it, from the file's path alone into the renderers the graph manager picks.
// Used on the test's thread; the logs are filled on the filter's worker
// threads.
#pragma once

#include "SampleLog.h"

#include <dshow.h>
#include <wrl/client.h>

#include <string>
#include <vector>

using Microsoft::WRL::ComPtr;

struct RigOptions {
    bool Video = true;
    bool Audio = true;
    bool Clock = false;       // keep the graph's own clock; otherwise run unclocked
    uint32_t Width = 352;     // picture size the video log checks against
    uint32_t Height = 288;
};

class CGraphRig {
public:
    CGraphRig();
    ~CGraphRig();
    CGraphRig(const CGraphRig&) = delete;
    CGraphRig& operator=(const CGraphRig&) = delete;

    // Builds the whole graph; S_OK or the first failure (Load's result included).
    HRESULT Build(const std::wstring& file, const RigOptions& options);

    // RenderFile on the path, keeping the graph's clock: the graph manager
    // picks the source filter from the registry (Source is the one it
    // chose) and the renderers; the logs stay empty. RenderFile's result.
    HRESULT RenderByPath(const std::wstring& file);
    // The graph's filters that are not the source, by class id.
    std::vector<CLSID> Downstream() const;

    // Waits for EC_COMPLETE (true) or an abort / timeout (false); counts every
    // EC_COMPLETE seen so far.
    bool WaitForComplete(DWORD timeoutMs);
    int CompleteEvents() const { return Completes; }
    // Collects the events already queued without waiting.
    void DrainEvents();
    long LastAbortCode() const { return AbortCode; }

    // The logs outlive the graph that calls them.
    CSampleLog VideoLog;
    CSampleLog AudioLog;
    ComPtr<IGraphBuilder> Graph;
    ComPtr<IMediaControl> Control;
    ComPtr<IMediaSeeking> Seeking;
    ComPtr<IMediaEvent> Events;
    ComPtr<IBaseFilter> Source;

private:
    HRESULT CreateGraph();
    HRESULT AddBranch(const wchar_t* pinId, const GUID& major, CSampleLog* log, const wchar_t* name);
    bool TakeEvent(DWORD timeoutMs, bool* complete);

    int Completes = 0;
    long AbortCode = 0;
};

// Runs the filter graph in a state and waits until it is there (bounded).
HRESULT ChangeState(IMediaControl* control, OAFilterState state);
