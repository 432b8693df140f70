#include "AviReadBack.h"

#include <dshow.h>
#include <uuids.h>
#include <wrl/client.h>

using Microsoft::WRL::ComPtr;

namespace {

const CLSID SampleGrabberClass = {0xc1f400a0, 0x3f08, 0x11d3, {0x9f, 0x0b, 0x00, 0x60, 0x08, 0x03, 0x9e, 0x37}};
const CLSID NullRendererClass = {0xc1f400a4, 0x3f08, 0x11d3, {0x9f, 0x0b, 0x00, 0x60, 0x08, 0x03, 0x9e, 0x37}};

ComPtr<IPin> FirstPin(IBaseFilter* filter, PIN_DIRECTION wanted) {
    ComPtr<IEnumPins> pins;
    filter->EnumPins(&pins);
    ComPtr<IPin> pin;
    while (pins->Next(1, pin.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
        PIN_DIRECTION direction;
        pin->QueryDirection(&direction);
        ComPtr<IPin> peer;
        if (direction == wanted && pin->ConnectedTo(&peer) == VFW_E_NOT_CONNECTED) return pin;
    }
    return nullptr;
}

}  // namespace

bool ReadAviBack(const std::wstring& avi, CSampleLog* video, CSampleLog* audio) {
    ComPtr<IGraphBuilder> graph;
    if (FAILED(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&graph)))) return false;
    ComPtr<IBaseFilter> source, splitter;
    if (FAILED(graph->AddSourceFilter(avi.c_str(), L"AVI file", &source))) return false;
    if (FAILED(CoCreateInstance(CLSID_AviSplitter, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&splitter))) ||
        FAILED(graph->AddFilter(splitter.Get(), L"AVI Splitter")) ||
        FAILED(graph->ConnectDirect(FirstPin(source.Get(), PINDIR_OUTPUT).Get(),
                                    FirstPin(splitter.Get(), PINDIR_INPUT).Get(), nullptr))) {
        return false;
    }
    for (ComPtr<IPin> out = FirstPin(splitter.Get(), PINDIR_OUTPUT); out;
         out = FirstPin(splitter.Get(), PINDIR_OUTPUT)) {
        ComPtr<IEnumMediaTypes> types;
        AM_MEDIA_TYPE* type = nullptr;
        if (FAILED(out->EnumMediaTypes(&types)) || types->Next(1, &type, nullptr) != S_OK) return false;
        const bool isVideo = IsEqualGUID(type->majortype, MEDIATYPE_Video);
        if (type->cbFormat) CoTaskMemFree(type->pbFormat);
        CoTaskMemFree(type);
        ComPtr<IBaseFilter> grabberFilter, renderer;
        ComPtr<ISampleGrabber> grabber;
        if (FAILED(CoCreateInstance(SampleGrabberClass, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&grabberFilter))) ||
            FAILED(grabberFilter.As(&grabber)) ||
            FAILED(CoCreateInstance(NullRendererClass, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&renderer)))) {
            return false;
        }
        grabber->SetCallback(isVideo ? video : audio, 0);
        graph->AddFilter(grabberFilter.Get(), isVideo ? L"Video grabber" : L"Audio grabber");
        graph->AddFilter(renderer.Get(), isVideo ? L"Video renderer" : L"Audio renderer");
        if (FAILED(graph->ConnectDirect(out.Get(), FirstPin(grabberFilter.Get(), PINDIR_INPUT).Get(), nullptr)) ||
            FAILED(graph->ConnectDirect(FirstPin(grabberFilter.Get(), PINDIR_OUTPUT).Get(),
                                        FirstPin(renderer.Get(), PINDIR_INPUT).Get(), nullptr))) {
            return false;
        }
    }
    ComPtr<IMediaFilter> mediaFilter;
    ComPtr<IMediaControl> control;
    ComPtr<IMediaEvent> events;
    graph.As(&mediaFilter);
    graph.As(&control);
    graph->QueryInterface(IID_IMediaEvent, reinterpret_cast<void**>(events.GetAddressOf()));
    mediaFilter->SetSyncSource(nullptr);
    if (FAILED(control->Run())) return false;
    long code = 0;
    const HRESULT waited = events->WaitForCompletion(60000, &code);
    control->Stop();
    return waited == S_OK && code == EC_COMPLETE;
}

