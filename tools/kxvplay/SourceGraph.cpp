#include "SourceGraph.h"

#include "AppError.h"
#include "FramePositions.h"
#include "HResultText.h"
#include "common/LibraryFolder.h"
#include "common/KXVDSrcClsid.h"

#include <dvdmedia.h>
#include <uuids.h>

#include <cwchar>

namespace {

// The platform's Sample Grabber and Null Renderer (qedit).
const CLSID SampleGrabberClass = {0xc1f400a0, 0x3f08, 0x11d3, {0x9f, 0x0b, 0x00, 0x60, 0x08, 0x03, 0x9e, 0x37}};
const CLSID NullRendererClass = {0xc1f400a4, 0x3f08, 0x11d3, {0x9f, 0x0b, 0x00, 0x60, 0x08, 0x03, 0x9e, 0x37}};

const wchar_t LibraryName[] = L"VUVezaVID.dll";

std::wstring GuidText(const GUID& id) {
    wchar_t text[40] = {};
    StringFromGUID2(id, text, ARRAYSIZE(text));
    return text;
}

std::wstring FourCcText(DWORD code) {
    std::wstring text;
    for (int i = 0; i < 4; ++i) {
        const wchar_t c = static_cast<wchar_t>((code >> (8 * i)) & 0xFF);
        text += (c >= 32 && c < 127) ? c : L'?';
    }
    return text;
}

std::wstring TypeText(const AM_MEDIA_TYPE& type) {
    wchar_t text[256] = {};
    if (type.majortype == MEDIATYPE_Video && type.formattype == FORMAT_VideoInfo && type.pbFormat &&
        type.cbFormat >= sizeof(VIDEOINFOHEADER)) {
        const auto* info = reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat);
        const double fps = info->AvgTimePerFrame > 0 ? 1e7 / static_cast<double>(info->AvgTimePerFrame) : 0;
        swprintf(text, ARRAYSIZE(text), L"Video %ls %ldx%ld, %u bit, %lu bytes per picture, %.3f fps",
                 FourCcText(info->bmiHeader.biCompression).c_str(), info->bmiHeader.biWidth,
                 info->bmiHeader.biHeight, static_cast<unsigned>(info->bmiHeader.biBitCount),
                 static_cast<unsigned long>(info->bmiHeader.biSizeImage), fps);
    } else if (type.majortype == MEDIATYPE_Audio && type.formattype == FORMAT_WaveFormatEx && type.pbFormat &&
               type.cbFormat >= sizeof(PCMWAVEFORMAT)) {
        const auto* wave = reinterpret_cast<const WAVEFORMATEX*>(type.pbFormat);
        swprintf(text, ARRAYSIZE(text), L"Audio %ls %lu Hz, %u channel%ls, %u bit, %lu bytes per sample",
                 wave->wFormatTag == WAVE_FORMAT_PCM ? L"PCM" : L"non-PCM",
                 static_cast<unsigned long>(wave->nSamplesPerSec), static_cast<unsigned>(wave->nChannels),
                 wave->nChannels == 1 ? L"" : L"s", static_cast<unsigned>(wave->wBitsPerSample),
                 static_cast<unsigned long>(type.lSampleSize));
    } else {
        return L"major " + GuidText(type.majortype) + L" subtype " + GuidText(type.subtype);
    }
    return text;
}

void FreeType(AM_MEDIA_TYPE* type) {
    if (!type) return;
    if (type->cbFormat) CoTaskMemFree(type->pbFormat);
    if (type->pUnk) type->pUnk->Release();
    CoTaskMemFree(type);
}

// The first pin of the filter with the given direction that is not connected.
ComPtr<IPin> FreePin(IBaseFilter* filter, PIN_DIRECTION wanted) {
    ComPtr<IEnumPins> pins;
    if (FAILED(filter->EnumPins(&pins))) return nullptr;
    ComPtr<IPin> pin;
    while (pins->Next(1, pin.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
        PIN_DIRECTION direction;
        if (FAILED(pin->QueryDirection(&direction)) || direction != wanted) continue;
        ComPtr<IPin> peer;
        if (pin->ConnectedTo(&peer) == VFW_E_NOT_CONNECTED) return pin;
    }
    return nullptr;
}

bool IsConnected(IPin* pin) {
    ComPtr<IPin> peer;
    return pin->ConnectedTo(&peer) == S_OK;
}

// The first connected pin of the filter with the given direction.
ComPtr<IPin> ConnectedPin(IBaseFilter* filter, PIN_DIRECTION wanted) {
    ComPtr<IEnumPins> pins;
    if (FAILED(filter->EnumPins(&pins))) return nullptr;
    ComPtr<IPin> pin;
    while (pins->Next(1, pin.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
        PIN_DIRECTION direction;
        if (SUCCEEDED(pin->QueryDirection(&direction)) && direction == wanted && IsConnected(pin.Get())) return pin;
    }
    return nullptr;
}

// A class's name as the registry gives it, "?" where it does not.
std::wstring ClassName(const CLSID& id) {
    const std::wstring key = L"CLSID\\" + GuidText(id);
    wchar_t name[256] = {};
    DWORD bytes = sizeof(name) - sizeof(wchar_t);
    if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, name, &bytes) != ERROR_SUCCESS) {
        return L"?";
    }
    return name;
}

// The registered module's path, or empty when the registry does not say.
std::wstring RegisteredModule() {
    const std::wstring key = L"CLSID\\" + GuidText(CLSID_KXVDSource) + L"\\InprocServer32";
    wchar_t path[MAX_PATH * 2] = {};
    DWORD bytes = sizeof(path) - sizeof(wchar_t);
    if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, path, &bytes) != ERROR_SUCCESS) {
        return std::wstring();
    }
    return path;
}

bool LibraryLoadable(const std::wstring& path) {
    HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!module) return false;
    FreeLibrary(module);
    return true;
}

}  // namespace

CSourceGraph::CSourceGraph() = default;

CSourceGraph::~CSourceGraph() {
    Stop();
}

void CSourceGraph::GraphFailed(const std::wstring& what, HRESULT hr) {
    throw CAppError(ExitCode::GraphFailure, L"graph failure: " + what + L": " + DescribeHResult(hr));
}

void CSourceGraph::CheckReadable(const std::wstring& file) {
    wchar_t full[MAX_PATH * 2] = {};
    const DWORD length = GetFullPathNameW(file.c_str(), ARRAYSIZE(full), full, nullptr);
    Path = (length > 0 && length < ARRAYSIZE(full)) ? std::wstring(full) : file;
    const DWORD attributes = GetFileAttributesW(Path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        throw CAppError(ExitCode::FileUnreadable, L"file not found: " + file);
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        throw CAppError(ExitCode::FileUnreadable, L"not a file but a folder: " + file);
    }
    HANDLE handle = CreateFileW(Path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        throw CAppError(ExitCode::FileUnreadable, L"cannot read " + file + L": " +
                                                      DescribeHResult(HRESULT_FROM_WIN32(GetLastError())));
    }
    CloseHandle(handle);
}

void CSourceGraph::CreateSource() {
    const HRESULT hr =
        CoCreateInstance(CLSID_KXVDSource, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&Source));
    if (hr == REGDB_E_CLASSNOTREG || hr == CLASS_E_CLASSNOTAVAILABLE) {
        throw CAppError(ExitCode::NotRegistered,
                        L"filter not registered: the \"KXVD Source File\" filter is unknown to COM; "
                        L"register it with: regsvr32 " KXVD_MODULE_FILE);
    }
    if (hr == HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND) || hr == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)) {
        throw CAppError(ExitCode::NotRegistered,
                        L"filter not registered: the registered module " + RegisteredModule() +
                            L" cannot be loaded; register it again with: regsvr32 " KXVD_MODULE_FILE);
    }
    if (FAILED(hr)) GraphFailed(L"cannot create the \"KXVD Source File\" filter", hr);
}

// The module looks for the library in its own folder first, then in the
// folder the installer recorded, then along the process's search path; the
// same places are checked here, so that a missing library is named instead of
// surfacing as a refused file.
void CSourceGraph::CheckLibrary() {
    const std::wstring module = RegisteredModule();
    const size_t slash = module.find_last_of(L"\\/");
    if (slash != std::wstring::npos && LibraryLoadable(module.substr(0, slash + 1) + LibraryName)) return;
    const std::wstring recorded = RecordedLibraryFolder();
    if (!recorded.empty() && LibraryLoadable(recorded + LibraryName)) return;
    if (LibraryLoadable(LibraryName)) return;
    const std::wstring folder = slash != std::wstring::npos ? module.substr(0, slash) : std::wstring(L"?");
    const std::wstring elsewhere = recorded.empty() ? std::wstring() : L" nor in " + recorded + L",";
    throw CAppError(ExitCode::LibraryMissing, L"playback library missing: " + std::wstring(LibraryName) +
                                                  L" is neither beside " KXVD_MODULE_FILE L" (in " + folder + L")," +
                                                  elsewhere + L" nor on the search path");
}

void CSourceGraph::CreateGraph() {
    HRESULT hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&Graph));
    if (FAILED(hr)) GraphFailed(L"cannot create the filter graph manager", hr);
    Graph.As(&Control);
    hr = Graph->QueryInterface(IID_IMediaEvent, reinterpret_cast<void**>(Events.GetAddressOf()));
    if (FAILED(hr) || !Control) {
        GraphFailed(L"the graph manager lacks its control interfaces", FAILED(hr) ? hr : E_NOINTERFACE);
    }
}

HRESULT CSourceGraph::OpenByPath(const std::wstring& file) {
    CheckReadable(file);
    CreateGraph();
    const std::wstring howTo = L"; register the file type with regsvr32 /i:\"EXTENSION\" " KXVD_MODULE_FILE
                               L" (kxvplay --help open)";
    // Which source the graph manager picks for the path, asked first: a
    // RenderFile that fails no longer tells.
    ComPtr<IBaseFilter> probe;
    HRESULT hr = Graph->AddSourceFilter(Path.c_str(), L"Source", &probe);
    if (FAILED(hr)) GraphFailed(L"finding a source filter for " + file + L" from its path", hr);
    CLSID chosen = CLSID_NULL;
    probe->GetClassID(&chosen);
    Graph->RemoveFilter(probe.Get());
    probe.Reset();
    if (!IsEqualCLSID(chosen, CLSID_KXVDSource)) {
        throw CAppError(ExitCode::NotRegistered, L"filter not registered for " + file + L": the graph manager chose \"" +
                                                     ClassName(chosen) + L"\" " + GuidText(chosen) + howTo);
    }
    const HRESULT rendered = Graph->RenderFile(Path.c_str(), nullptr);
    if (FAILED(rendered)) GraphFailed(L"rendering " + file + L" from its path", rendered);
    // The source is the filter without an input pin.
    ComPtr<IEnumFilters> filters;
    ComPtr<IBaseFilter> filter;
    if (SUCCEEDED(Graph->EnumFilters(&filters))) {
        while (!Source && filters->Next(1, filter.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
            if (!FreePin(filter.Get(), PINDIR_INPUT) && !ConnectedPin(filter.Get(), PINDIR_INPUT)) Source = filter;
        }
    }
    if (!Source) GraphFailed(L"the graph built for " + file + L" has no source", E_UNEXPECTED);
    Describe();
    return rendered;
}

std::vector<std::wstring> CSourceGraph::FilterNames() {
    std::vector<std::wstring> names;
    ComPtr<IEnumFilters> filters;
    if (!Graph || FAILED(Graph->EnumFilters(&filters))) return names;
    ComPtr<IBaseFilter> filter;
    while (filters->Next(1, filter.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
        FILTER_INFO info = {};
        if (FAILED(filter->QueryFilterInfo(&info))) continue;
        if (info.pGraph) info.pGraph->Release();
        if (filter.Get() == Source.Get()) {
            names.insert(names.begin(), info.achName);
        } else {
            names.push_back(info.achName);
        }
    }
    return names;
}

void CSourceGraph::NameVideoWindow(const std::wstring& caption) {
    ComPtr<IVideoWindow> window;
    if (FAILED(Graph->QueryInterface(IID_IVideoWindow, reinterpret_cast<void**>(window.GetAddressOf())))) return;
    BSTR text = SysAllocString(caption.c_str());
    if (text) window->put_Caption(text);
    SysFreeString(text);
}

void CSourceGraph::Open(const std::wstring& file) {
    CheckReadable(file);
    CreateGraph();
    CreateSource();
    CheckLibrary();
    HRESULT hr = Graph->AddFilter(Source.Get(), L"KXVD Source File");
    if (FAILED(hr)) GraphFailed(L"cannot add the source to the graph", hr);
    ComPtr<IFileSourceFilter> fileSource;
    hr = Source.As(&fileSource);
    if (FAILED(hr)) GraphFailed(L"the source offers no IFileSourceFilter", hr);
    hr = fileSource->Load(Path.c_str(), nullptr);
    if (hr == E_FAIL) {
        throw CAppError(ExitCode::RecordingRefused,
                        L"recording refused: the playback library cannot open " + file);
    }
    if (hr == E_OUTOFMEMORY) {
        throw CAppError(ExitCode::RecordingRefused,
                        L"recording refused: no picture could be decoded from " + file);
    }
    if (FAILED(hr)) GraphFailed(L"loading " + file, hr);
    Describe();
}

void CSourceGraph::Describe() {
    for (int index = 0; index < 2; ++index) {
        ComPtr<IPin> pin = SourcePin(index);
        PinDescription description;
        LPWSTR id = nullptr;
        if (SUCCEEDED(pin->QueryId(&id)) && id) {
            description.Id = id;
            CoTaskMemFree(id);
        }
        PIN_INFO info = {};
        if (SUCCEEDED(pin->QueryPinInfo(&info))) {
            description.Name = info.achName;
            if (info.pFilter) info.pFilter->Release();
        }
        ComPtr<IEnumMediaTypes> types;
        AM_MEDIA_TYPE* type = nullptr;
        if (SUCCEEDED(pin->EnumMediaTypes(&types)) && types->Next(1, &type, nullptr) == S_OK) {
            description.Type = TypeText(*type);
            if (index == 0 && type->formattype == FORMAT_VideoInfo && type->cbFormat >= sizeof(VIDEOINFOHEADER)) {
                const auto* video = reinterpret_cast<const VIDEOINFOHEADER*>(type->pbFormat);
                Info.Width = video->bmiHeader.biWidth;
                Info.Height = video->bmiHeader.biHeight;
                Info.FramesPerSecond = static_cast<long>(video->dwBitRate);
                Info.PictureStep = video->AvgTimePerFrame;
            }
            FreeType(type);
        }
        Info.Pins.push_back(description);
    }
    if (Info.Width <= 0 || Info.Height <= 0) GraphFailed(L"the video pin offers no picture type", E_UNEXPECTED);
    ComPtr<IMediaSeeking> seeking;
    if (SUCCEEDED(SourcePin(0).As(&seeking))) seeking->GetDuration(&Info.Duration);
    Info.FrameTotal = CFramePositions(SourcePin(0).Get()).Total();
    if (Info.FrameTotal <= 0 && Info.PictureStep > 0) {
        Info.FrameTotal = (Info.Duration + Info.PictureStep / 2) / Info.PictureStep;
    }
    Info.PicturePeriod = Info.FrameTotal > 0 ? static_cast<double>(Info.Duration) / static_cast<double>(Info.FrameTotal)
                                             : static_cast<double>(Info.PictureStep);
}

ComPtr<IPin> CSourceGraph::SourcePin(int index) {
    ComPtr<IPin> pin;
    const HRESULT hr = Source->FindPin(index == 0 ? L"1" : L"2", &pin);
    if (FAILED(hr)) GraphFailed(index == 0 ? L"the source has no video pin" : L"the source has no audio pin", hr);
    return pin;
}

ComPtr<IBaseFilter> CSourceGraph::AddFilter(const CLSID& id, const wchar_t* name) {
    ComPtr<IBaseFilter> filter;
    HRESULT hr = CoCreateInstance(id, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&filter));
    if (FAILED(hr)) GraphFailed(std::wstring(L"cannot create the ") + name, hr);
    hr = Graph->AddFilter(filter.Get(), name);
    if (FAILED(hr)) GraphFailed(std::wstring(L"cannot add the ") + name, hr);
    return filter;
}

HRESULT CSourceGraph::ConnectToFilter(IPin* output, IBaseFilter* filter, bool direct) {
    ComPtr<IPin> input = FreePin(filter, PINDIR_INPUT);
    if (!input) return VFW_E_NOT_FOUND;
    return direct ? Graph->ConnectDirect(output, input.Get(), nullptr) : Graph->Connect(output, input.Get());
}

HRESULT CSourceGraph::ConnectKeepingType(IPin* output, IPin* typeSource, IBaseFilter* filter) {
    ComPtr<IPin> input = FreePin(filter, PINDIR_INPUT);
    if (!input) return VFW_E_NOT_FOUND;
    AM_MEDIA_TYPE type = {};
    HRESULT hr = typeSource->ConnectionMediaType(&type);
    if (FAILED(hr)) return hr;
    hr = Graph->ConnectDirect(output, input.Get(), &type);
    if (type.cbFormat) CoTaskMemFree(type.pbFormat);
    if (type.pUnk) type.pUnk->Release();
    return hr;
}

void CSourceGraph::RemoveFilter(IBaseFilter* filter) {
    Graph->RemoveFilter(filter);
}

ComPtr<IPin> CSourceGraph::AddGrabber(IPin* output, const GUID& major, ISampleGrabberCB* callback,
                                      const wchar_t* name) {
    ComPtr<IBaseFilter> filter = AddFilter(SampleGrabberClass, name);
    ComPtr<ISampleGrabber> grabber;
    HRESULT hr = filter.As(&grabber);
    if (FAILED(hr)) GraphFailed(L"the Sample Grabber lacks ISampleGrabber", hr);
    AM_MEDIA_TYPE wanted = {};
    wanted.majortype = major;
    grabber->SetMediaType(&wanted);
    grabber->SetBufferSamples(FALSE);
    grabber->SetOneShot(FALSE);
    grabber->SetCallback(callback, 0);
    hr = ConnectToFilter(output, filter.Get(), true);
    if (FAILED(hr)) GraphFailed(std::wstring(L"cannot connect the source to the ") + name, hr);
    ComPtr<IPin> grabberOut = FreePin(filter.Get(), PINDIR_OUTPUT);
    if (!grabberOut) GraphFailed(std::wstring(L"the ") + name + L" has no output pin", VFW_E_NOT_FOUND);
    return grabberOut;
}

HRESULT CSourceGraph::Render(IPin* output) {
    return Graph->Render(output);
}

void CSourceGraph::RenderNull(IPin* output, const wchar_t* name) {
    ComPtr<IBaseFilter> renderer = AddFilter(NullRendererClass, name);
    const HRESULT hr = ConnectToFilter(output, renderer.Get(), true);
    if (FAILED(hr)) GraphFailed(std::wstring(L"cannot connect the ") + name, hr);
}

ComPtr<IPin> CSourceGraph::Grab(int index, ISampleGrabberCB* callback) {
    return AddGrabber(SourcePin(index).Get(), index == 0 ? MEDIATYPE_Video : MEDIATYPE_Audio, callback,
                      index == 0 ? L"Video grabber" : L"Audio grabber");
}

void CSourceGraph::GrabIntoNull(int index, ISampleGrabberCB* callback) {
    RenderNull(Grab(index, callback).Get(), index == 0 ? L"Video renderer" : L"Audio renderer");
}

void CSourceGraph::SetRange(REFERENCE_TIME start, REFERENCE_TIME stop) {
    // The audio pin is the one that repositions the file, so it goes last:
    // its seek waits until pictures of the new position are decoded.
    for (int index = 0; index < 2; ++index) {
        ComPtr<IMediaSeeking> seeking;
        HRESULT hr = SourcePin(index).As(&seeking);
        if (FAILED(hr)) GraphFailed(L"the source pin offers no IMediaSeeking", hr);
        REFERENCE_TIME from = start;
        REFERENCE_TIME to = stop;
        hr = seeking->SetPositions(&from, AM_SEEKING_AbsolutePositioning, &to, AM_SEEKING_AbsolutePositioning);
        if (FAILED(hr)) GraphFailed(L"setting the positions", hr);
    }
}

void CSourceGraph::SetRate(double rate) {
    // Wine's graph does not pass a rate upstream, so each pin is told itself.
    for (int index = 0; index < 2; ++index) {
        ComPtr<IMediaSeeking> seeking;
        HRESULT hr = SourcePin(index).As(&seeking);
        if (FAILED(hr)) GraphFailed(L"the source pin offers no IMediaSeeking", hr);
        hr = seeking->SetRate(rate);
        if (FAILED(hr)) GraphFailed(L"setting the rate", hr);
    }
}

void CSourceGraph::Unclocked() {
    ComPtr<IMediaFilter> mediaFilter;
    HRESULT hr = Graph.As(&mediaFilter);
    if (SUCCEEDED(hr)) hr = mediaFilter->SetSyncSource(nullptr);
    if (FAILED(hr)) GraphFailed(L"removing the graph clock", hr);
}

void CSourceGraph::Run() {
    const HRESULT hr = Control->Run();
    if (FAILED(hr)) GraphFailed(L"running the graph", hr);
    Running = true;
}

HRESULT CSourceGraph::Stop() {
    if (!Running) return S_OK;
    Running = false;
    return Control->Stop();
}

bool CSourceGraph::NextEvent(DWORD timeoutMs, long* code, LONG_PTR* first) {
    const DWORD begin = GetTickCount();
    for (;;) {
        const DWORD spent = GetTickCount() - begin;
        const DWORD left = spent >= timeoutMs ? 0 : timeoutMs - spent;
        LONG_PTR second = 0;
        const HRESULT hr = Events->GetEvent(code, first, &second, static_cast<long>(left));
        if (hr == S_OK) {
            Events->FreeEventParams(*code, *first, second);
            return true;
        }
        // Wine's event queue may answer E_ABORT at once with nothing queued
        // when its signal was left set; the next wait blocks as it should.
        if (hr != E_ABORT || left == 0) return false;
    }
}
