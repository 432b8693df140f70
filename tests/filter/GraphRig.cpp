#include "GraphRig.h"

#include "common/KXVDSrcClsid.h"

#include <uuids.h>

namespace {

// The platform's Sample Grabber and Null Renderer.
const CLSID SampleGrabberClass = {0xc1f400a0, 0x3f08, 0x11d3, {0x9f, 0x0b, 0x00, 0x60, 0x08, 0x03, 0x9e, 0x37}};
const CLSID NullRendererClass = {0xc1f400a4, 0x3f08, 0x11d3, {0x9f, 0x0b, 0x00, 0x60, 0x08, 0x03, 0x9e, 0x37}};

}  // namespace

CGraphRig::CGraphRig() : VideoLog(CSampleLog::Kind::Video), AudioLog(CSampleLog::Kind::Audio) {}

CGraphRig::~CGraphRig() {
    VideoLog.ReleaseHold();
    AudioLog.ReleaseHold();
    if (Control) Control->Stop();
}

HRESULT CGraphRig::Build(const std::wstring& file, const RigOptions& options) {
    VideoLog.SetPictureSize(options.Width, options.Height);
    HRESULT hr = CreateGraph();
    if (FAILED(hr)) return hr;
    hr = CoCreateInstance(CLSID_KXVDSource, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&Source));
    if (FAILED(hr)) return hr;
    hr = Graph->AddFilter(Source.Get(), L"KXVD Source");
    if (FAILED(hr)) return hr;
    ComPtr<IFileSourceFilter> fileSource;
    hr = Source.As(&fileSource);
    if (FAILED(hr)) return hr;
    hr = fileSource->Load(file.c_str(), nullptr);
    if (FAILED(hr)) return hr;
    if (options.Video) {
        hr = AddBranch(L"1", MEDIATYPE_Video, &VideoLog, L"Video");
        if (FAILED(hr)) return hr;
    }
    if (options.Audio) {
        hr = AddBranch(L"2", MEDIATYPE_Audio, &AudioLog, L"Audio");
        if (FAILED(hr)) return hr;
    }
    if (!options.Clock) {
        ComPtr<IMediaFilter> mediaFilter;
        Graph.As(&mediaFilter);
        hr = mediaFilter->SetSyncSource(nullptr);
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

HRESULT CGraphRig::CreateGraph() {
    HRESULT hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&Graph));
    if (FAILED(hr)) return hr;
    Graph.As(&Control);
    Graph.As(&Seeking);
    return Graph->QueryInterface(IID_IMediaEvent, reinterpret_cast<void**>(Events.GetAddressOf()));
}

HRESULT CGraphRig::RenderByPath(const std::wstring& file) {
    HRESULT hr = CreateGraph();
    if (FAILED(hr)) return hr;
    const HRESULT rendered = Graph->RenderFile(file.c_str(), nullptr);
    if (FAILED(rendered)) return rendered;
    // The source is the filter with no input pin.
    ComPtr<IEnumFilters> filters;
    Graph->EnumFilters(&filters);
    ComPtr<IBaseFilter> filter;
    while (filters->Next(1, filter.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
        ComPtr<IEnumPins> pins;
        filter->EnumPins(&pins);
        bool hasInput = false;
        ComPtr<IPin> pin;
        while (pins->Next(1, pin.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
            PIN_DIRECTION direction;
            pin->QueryDirection(&direction);
            hasInput = hasInput || direction == PINDIR_INPUT;
        }
        if (!hasInput) Source = filter;
    }
    return Source ? rendered : E_UNEXPECTED;
}

std::vector<CLSID> CGraphRig::Downstream() const {
    std::vector<CLSID> classes;
    ComPtr<IEnumFilters> filters;
    if (!Graph || FAILED(Graph->EnumFilters(&filters))) return classes;
    ComPtr<IBaseFilter> filter;
    while (filters->Next(1, filter.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
        CLSID id = {};
        if (filter.Get() != Source.Get() && SUCCEEDED(filter->GetClassID(&id))) classes.push_back(id);
    }
    return classes;
}

HRESULT CGraphRig::AddBranch(const wchar_t* pinId, const GUID& major, CSampleLog* log, const wchar_t* name) {
    ComPtr<IBaseFilter> grabberFilter;
    HRESULT hr = CoCreateInstance(SampleGrabberClass, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&grabberFilter));
    if (FAILED(hr)) return hr;
    ComPtr<ISampleGrabber> grabber;
    grabberFilter.As(&grabber);
    AM_MEDIA_TYPE wanted = {};
    wanted.majortype = major;
    grabber->SetMediaType(&wanted);
    grabber->SetBufferSamples(FALSE);
    grabber->SetOneShot(FALSE);
    grabber->SetCallback(log, 0);
    std::wstring grabberName = std::wstring(name) + L" grabber";
    hr = Graph->AddFilter(grabberFilter.Get(), grabberName.c_str());
    if (FAILED(hr)) return hr;

    ComPtr<IBaseFilter> renderer;
    hr = CoCreateInstance(NullRendererClass, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&renderer));
    if (FAILED(hr)) return hr;
    std::wstring rendererName = std::wstring(name) + L" renderer";
    hr = Graph->AddFilter(renderer.Get(), rendererName.c_str());
    if (FAILED(hr)) return hr;

    ComPtr<IPin> out, grabberIn, grabberOut, rendererIn;
    hr = Source->FindPin(pinId, &out);
    if (FAILED(hr)) return hr;
    ComPtr<IEnumPins> pins;
    grabberFilter->EnumPins(&pins);
    ComPtr<IPin> pin;
    while (pins->Next(1, &pin, nullptr) == S_OK) {
        PIN_DIRECTION direction;
        pin->QueryDirection(&direction);
        (direction == PINDIR_INPUT ? grabberIn : grabberOut) = pin;
        pin.Reset();
    }
    ComPtr<IEnumPins> rendererPins;
    renderer->EnumPins(&rendererPins);
    rendererPins->Next(1, &rendererIn, nullptr);
    if (!grabberIn || !grabberOut || !rendererIn) return E_UNEXPECTED;
    hr = Graph->ConnectDirect(out.Get(), grabberIn.Get(), nullptr);
    if (FAILED(hr)) return hr;
    return Graph->ConnectDirect(grabberOut.Get(), rendererIn.Get(), nullptr);
}

bool CGraphRig::TakeEvent(DWORD timeoutMs, bool* complete) {
    long code = 0;
    LONG_PTR first = 0, second = 0;
    *complete = false;
    const DWORD begin = GetTickCount();
    for (;;) {
        const DWORD spent = GetTickCount() - begin;
        const DWORD left = spent >= timeoutMs ? 0 : timeoutMs - spent;
        const HRESULT hr = Events->GetEvent(&code, &first, &second, static_cast<long>(left));
        if (hr == S_OK) break;
        // Wine's event queue may answer E_ABORT at once, with nothing queued,
        // when its signal was left set; the next wait blocks as it should.
        if (hr != E_ABORT || left == 0) return false;
    }
    if (code == EC_COMPLETE) {
        ++Completes;
        *complete = true;
    } else if (code == EC_ERRORABORT) {
        AbortCode = static_cast<long>(first);
    }
    Events->FreeEventParams(code, first, second);
    return true;
}

bool CGraphRig::WaitForComplete(DWORD timeoutMs) {
    const DWORD begin = GetTickCount();
    for (;;) {
        const DWORD spent = GetTickCount() - begin;
        if (spent >= timeoutMs) return false;
        bool complete = false;
        if (!TakeEvent(timeoutMs - spent, &complete)) return false;
        if (complete) return true;
        if (AbortCode != 0) return false;
    }
}

void CGraphRig::DrainEvents() {
    bool complete = false;
    while (TakeEvent(0, &complete)) {
    }
}

HRESULT ChangeState(IMediaControl* control, OAFilterState state) {
    HRESULT hr = state == State_Running  ? control->Run()
                 : state == State_Paused ? control->Pause()
                                         : control->Stop();
    if (FAILED(hr)) return hr;
    OAFilterState reached = State_Stopped;
    hr = control->GetState(10000, &reached);
    if (hr == VFW_S_STATE_INTERMEDIATE) return E_ABORT;
    return FAILED(hr) ? hr : (reached == state ? S_OK : E_FAIL);
}
