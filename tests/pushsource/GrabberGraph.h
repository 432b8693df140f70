// Wine's Filter Graph Manager with the test push source (one stream) feeding
// a Sample Grabber, whose callback logs every sample, into a Null Renderer.
// Used on the test's thread, except that the state changes and the events
// may be used from several threads (the graph serialises them).
#pragma once

#include "SampleLog.h"
#include "TestPushSource.h"

#include <dshow.h>
#include <wrl/client.h>

using Microsoft::WRL::ComPtr;

class CGrabberGraph {
public:
    // Builds and connects the graph around source (a reference is taken);
    // without clock the graph runs unclocked. Check Built.
    CGrabberGraph(CTestPushSource* source, bool clock);
    ~CGrabberGraph();
    CGrabberGraph(const CGrabberGraph&) = delete;
    CGrabberGraph& operator=(const CGrabberGraph&) = delete;

    // Changes the graph's state and waits, bounded, until it is there.
    HRESULT ChangeState(OAFilterState state, DWORD timeoutMs = 10000);
    // Takes events until one with the code arrives (true, its first
    // parameter in param) or the time runs out.
    bool WaitForEvent(long code, LONG_PTR* param = nullptr, DWORD timeoutMs = 10000);

    HRESULT Built = E_FAIL;
    CSampleLog Log;
    ComPtr<IGraphBuilder> Graph;
    ComPtr<IMediaControl> Control;
    ComPtr<IMediaEvent> Events;
    ComPtr<IBaseFilter> Source;
    ComPtr<IPin> SourcePin;

private:
    HRESULT Build(CTestPushSource* source, bool clock);
};
