#include "GrabberGraph.h"

#include <qedit.h>
#include <uuids.h>

namespace {

// The platform's class ids, which the cross headers do not declare.
const CLSID SampleGrabberClass = {0xc1f400a0, 0x3f08, 0x11d3, {0x9f, 0x0b, 0x00, 0x60, 0x08, 0x03, 0x9e, 0x37}};
const CLSID NullRendererClass = {0xc1f400a4, 0x3f08, 0x11d3, {0x9f, 0x0b, 0x00, 0x60, 0x08, 0x03, 0x9e, 0x37}};

ComPtr<IPin> FirstPin(IBaseFilter* filter, PIN_DIRECTION direction) {
    ComPtr<IEnumPins> pins;
    if (FAILED(filter->EnumPins(&pins))) return nullptr;
    ComPtr<IPin> pin;
    while (pins->Next(1, pin.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
        PIN_DIRECTION found;
        if (SUCCEEDED(pin->QueryDirection(&found)) && found == direction) return pin;
    }
    return nullptr;
}

}  // namespace

CGrabberGraph::CGrabberGraph(CTestPushSource* source, bool clock) {
    Built = Build(source, clock);
}

CGrabberGraph::~CGrabberGraph() {
    if (Control) Control->Stop();
    Log.ReleaseHeldSamples();
}

HRESULT CGrabberGraph::Build(CTestPushSource* source, bool clock) {
    HRESULT result = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&Graph));
    if (FAILED(result)) return result;
    Graph.As(&Control);
    Graph->QueryInterface(IID_IMediaEvent, reinterpret_cast<void**>(Events.ReleaseAndGetAddressOf()));
    Source = source->Filter();
    SourcePin = static_cast<IPin*>(source->Stream(0));

    ComPtr<IBaseFilter> grabber, renderer;
    result = CoCreateInstance(SampleGrabberClass, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&grabber));
    if (FAILED(result)) return result;
    result = CoCreateInstance(NullRendererClass, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&renderer));
    if (FAILED(result)) return result;
    ComPtr<ISampleGrabber> grab;
    result = grabber.As(&grab);
    if (FAILED(result)) return result;
    grab->SetBufferSamples(FALSE);
    grab->SetOneShot(FALSE);
    result = grab->SetCallback(&Log, 0);
    if (FAILED(result)) return result;

    if (FAILED(result = Graph->AddFilter(Source.Get(), L"Numbers"))) return result;
    if (FAILED(result = Graph->AddFilter(grabber.Get(), L"Grabber"))) return result;
    if (FAILED(result = Graph->AddFilter(renderer.Get(), L"Null"))) return result;
    result = Graph->ConnectDirect(SourcePin.Get(), FirstPin(grabber.Get(), PINDIR_INPUT).Get(), nullptr);
    if (FAILED(result)) return result;
    result = Graph->ConnectDirect(FirstPin(grabber.Get(), PINDIR_OUTPUT).Get(),
                                  FirstPin(renderer.Get(), PINDIR_INPUT).Get(), nullptr);
    if (FAILED(result)) return result;
    if (!clock) {
        ComPtr<IMediaFilter> timing;
        if (FAILED(result = Graph.As(&timing))) return result;
        if (FAILED(result = timing->SetSyncSource(nullptr))) return result;
    }
    return S_OK;
}

HRESULT CGrabberGraph::ChangeState(OAFilterState state, DWORD timeoutMs) {
    HRESULT result;
    switch (state) {
    case State_Stopped: result = Control->Stop(); break;
    case State_Paused: result = Control->Pause(); break;
    default: result = Control->Run(); break;
    }
    if (FAILED(result)) return result;
    OAFilterState now = -1;
    result = Control->GetState(static_cast<LONG>(timeoutMs), &now);
    if (FAILED(result)) return result;
    if (result == VFW_S_STATE_INTERMEDIATE) return result;
    return now == state ? S_OK : E_FAIL;
}

bool CGrabberGraph::WaitForEvent(long code, LONG_PTR* param, DWORD timeoutMs) {
    const DWORD startTick = GetTickCount();
    for (;;) {
        const DWORD spent = GetTickCount() - startTick;
        if (spent >= timeoutMs) return false;
        long event = 0;
        LONG_PTR first = 0, second = 0;
        // Wine answers E_ABORT at once when its queue signal was left set
        // with nothing queued; it clears the signal, so the next wait blocks.
        const HRESULT taken = Events->GetEvent(&event, &first, &second, static_cast<long>(timeoutMs - spent));
        if (taken == E_ABORT) continue;
        if (FAILED(taken)) return false;
        Events->FreeEventParams(event, first, second);
        if (event == code) {
            if (param) *param = first;
            return true;
        }
    }
}
