#include "bench/BenchGraph.h"

#include "bench/Stopwatch.h"

#include <qedit.h>
#include <uuids.h>

#include <vector>

using Microsoft::WRL::ComPtr;

namespace {

// The platform's Sample Grabber and Null Renderer.
const CLSID SampleGrabberClass = {0xc1f400a0, 0x3f08, 0x11d3, {0x9f, 0x0b, 0x00, 0x60, 0x08, 0x03, 0x9e, 0x37}};
const CLSID NullRendererClass = {0xc1f400a4, 0x3f08, 0x11d3, {0x9f, 0x0b, 0x00, 0x60, 0x08, 0x03, 0x9e, 0x37}};

}  // namespace

ComPtr<IPin> FreePin(IBaseFilter* filter, PIN_DIRECTION direction) {
    ComPtr<IEnumPins> pins;
    if (FAILED(filter->EnumPins(&pins))) return nullptr;
    ComPtr<IPin> pin;
    while (pins->Next(1, &pin, nullptr) == S_OK) {
        PIN_DIRECTION its;
        ComPtr<IPin> peer;
        if (SUCCEEDED(pin->QueryDirection(&its)) && its == direction && pin->ConnectedTo(&peer) == VFW_E_NOT_CONNECTED) {
            return pin;
        }
        pin.Reset();
    }
    return nullptr;
}

CBenchGraph::~CBenchGraph() {
    if (Control) Control->Stop();
}

HRESULT CBenchGraph::MakeGraph() {
    HRESULT hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&Graph));
    if (FAILED(hr)) return hr;
    if (FAILED(hr = Graph.As(&Control)) || FAILED(hr = Graph.As(&Seeking))) return hr;
    return Graph->QueryInterface(IID_IMediaEvent, reinterpret_cast<void**>(Events.GetAddressOf()));
}

HRESULT CBenchGraph::AddFilter(const CLSID& clsid, const wchar_t* name, IBaseFilter** filter) {
    HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, reinterpret_cast<void**>(filter));
    if (FAILED(hr)) return hr;
    return Graph->AddFilter(*filter, name);
}

HRESULT CBenchGraph::Render(IPin* out, CSampleTap* tap, const wchar_t* name) {
    ComPtr<IBaseFilter> renderer;
    HRESULT hr = AddFilter(NullRendererClass, name, &renderer);
    if (FAILED(hr)) return hr;
    ComPtr<IPin> from = out;
    if (tap) {
        ComPtr<IBaseFilter> grabberFilter;
        if (FAILED(hr = AddFilter(SampleGrabberClass, L"tap", &grabberFilter))) return hr;
        ComPtr<ISampleGrabber> grabber;
        if (FAILED(hr = grabberFilter.As(&grabber))) return hr;
        grabber->SetBufferSamples(FALSE);
        grabber->SetOneShot(FALSE);
        grabber->SetCallback(tap, 0);
        ComPtr<IPin> grabberIn = FreePin(grabberFilter.Get(), PINDIR_INPUT);
        if (!grabberIn) return E_UNEXPECTED;
        if (FAILED(hr = Graph->ConnectDirect(from.Get(), grabberIn.Get(), nullptr))) return hr;
        from = FreePin(grabberFilter.Get(), PINDIR_OUTPUT);
        if (!from) return E_UNEXPECTED;
    }
    ComPtr<IPin> in = FreePin(renderer.Get(), PINDIR_INPUT);
    if (!in) return E_UNEXPECTED;
    return Graph->ConnectDirect(from.Get(), in.Get(), nullptr);
}

HRESULT CBenchGraph::Unclock() {
    ComPtr<IMediaFilter> mediaFilter;
    HRESULT hr = Graph.As(&mediaFilter);
    return FAILED(hr) ? hr : mediaFilter->SetSyncSource(nullptr);
}

HRESULT CBenchGraph::BuildModule(CModuleFactory* module, const std::wstring& recording, const KxGraphOptions& options) {
    HRESULT hr = MakeGraph();
    if (FAILED(hr)) return hr;
    if (FAILED(hr = module->CreateFilter(&SourceFilter))) return hr;
    if (FAILED(hr = Graph->AddFilter(SourceFilter.Get(), L"KXVD Source"))) return hr;
    ComPtr<IFileSourceFilter> file;
    if (FAILED(hr = SourceFilter.As(&file))) return hr;
    CStopwatch load;
    LoadStart = load.StartTicks();
    hr = file->Load(recording.c_str(), nullptr);
    LoadTime = load.Seconds();
    if (FAILED(hr)) return hr;
    ComPtr<IPin> video, audio;
    if (FAILED(hr = SourceFilter->FindPin(L"1", &video))) return hr;
    if (FAILED(hr = Render(video.Get(), options.VideoTap, L"Video renderer"))) return hr;
    if (options.Audio) {
        if (FAILED(hr = SourceFilter->FindPin(L"2", &audio))) return hr;
        if (FAILED(hr = Render(audio.Get(), options.AudioTap, L"Audio renderer"))) return hr;
    }
    return options.Clock ? S_OK : Unclock();
}

HRESULT CBenchGraph::BuildAvi(const std::wstring& avi, CSampleTap* tap) {
    HRESULT hr = MakeGraph();
    if (FAILED(hr)) return hr;
    if (FAILED(hr = AddFilter(CLSID_AsyncReader, L"File Source (Async)", &SourceFilter))) return hr;
    ComPtr<IFileSourceFilter> file;
    if (FAILED(hr = SourceFilter.As(&file))) return hr;
    CStopwatch load;
    LoadStart = load.StartTicks();
    hr = file->Load(avi.c_str(), nullptr);
    LoadTime = load.Seconds();
    if (FAILED(hr)) return hr;
    ComPtr<IBaseFilter> splitter;
    if (FAILED(hr = AddFilter(CLSID_AviSplitter, L"AVI Splitter", &splitter))) return hr;
    ComPtr<IPin> out = FreePin(SourceFilter.Get(), PINDIR_OUTPUT);
    ComPtr<IPin> in = FreePin(splitter.Get(), PINDIR_INPUT);
    if (!out || !in) return E_UNEXPECTED;
    if (FAILED(hr = Graph->ConnectDirect(out.Get(), in.Get(), nullptr))) return hr;
    int rendered = 0;
    while (ComPtr<IPin> stream = FreePin(splitter.Get(), PINDIR_OUTPUT)) {
        if (FAILED(hr = Render(stream.Get(), rendered == 0 ? tap : nullptr, rendered == 0 ? L"Renderer 1" : L"Renderer 2"))) return hr;
        ++rendered;
    }
    if (rendered == 0) return VFW_E_NOT_CONNECTED;
    return Unclock();
}

HRESULT CBenchGraph::Run() { return Control ? Control->Run() : E_UNEXPECTED; }

HRESULT CBenchGraph::Pause() { return Control ? Control->Pause() : E_UNEXPECTED; }

HRESULT CBenchGraph::Stop() {
    if (!Control) return E_UNEXPECTED;
    HRESULT hr = Control->Stop();
    OAFilterState state = State_Running;
    if (SUCCEEDED(hr)) hr = Control->GetState(10000, &state);
    return hr;
}

HRESULT CBenchGraph::SeekTo(REFERENCE_TIME start) {
    return Seeking ? Seeking->SetPositions(&start, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning)
                   : E_UNEXPECTED;
}

GraphEnd CBenchGraph::WaitForEnd(DWORD timeoutMs, HRESULT* abortCode) {
    if (!Events) return GraphEnd::NotEnded;
    const DWORD begin = GetTickCount();
    for (;;) {
        const DWORD spent = GetTickCount() - begin;
        if (spent >= timeoutMs) return GraphEnd::NotEnded;
        long code = 0;
        LONG_PTR first = 0, second = 0;
        const HRESULT hr = Events->GetEvent(&code, &first, &second, static_cast<long>(timeoutMs - spent));
        // Wine's event queue may answer E_ABORT at once with nothing queued
        // when its signal was left set; the next wait blocks as it should.
        if (hr == E_ABORT) continue;
        if (FAILED(hr)) return GraphEnd::NotEnded;
        const bool aborted = code == EC_ERRORABORT || code == EC_USERABORT;
        if (aborted && abortCode) *abortCode = static_cast<HRESULT>(first);
        Events->FreeEventParams(code, first, second);
        if (code == EC_COMPLETE) return GraphEnd::Complete;
        if (aborted) return GraphEnd::Aborted;
    }
}
