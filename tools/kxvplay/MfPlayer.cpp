#include "MfPlayer.h"

#include "AppError.h"
#include "HResultText.h"

#include "common/KXVDSrcClsid.h"

#include <mfapi.h>
#include <mferror.h>
#include <mfidl.h>
#include <mfreadwrite.h>
#include <wrl/client.h>

#include <cwchar>
#include <vector>

using Microsoft::WRL::ComPtr;

namespace {

// How long the session may take to resolve its topology and start (the
// renderers' first use of the graphics stack takes over 30 s where 32-bit
// programs run emulated), and beyond the recording's own length how long its
// end may take once started.
constexpr DWORD StartLimitMs = 120000;
constexpr DWORD EndMarginMs = 30000;
constexpr DWORD CloseLimitMs = 10000;

void Tally(CMfPlayer::StreamTally* tally, IMFSample* sample) {
    LONGLONG time = 0, duration = 0;
    sample->GetSampleTime(&time);
    sample->GetSampleDuration(&duration);
    DWORD length = 0;
    sample->GetTotalLength(&length);
    if (tally->Samples > 0 && time > tally->EndTime) ++tally->Gaps;
    if (tally->Samples > 0 && time < tally->EndTime) ++tally->Overlaps;
    if (tally->FirstTime < 0) tally->FirstTime = time;
    tally->EndTime = time + duration;
    ++tally->Samples;
    tally->Bytes += length;
}

// Pumps the window's messages while waiting for the session's next event.
HRESULT NextSessionEvent(IMFMediaSession* session, DWORD limitMs, MediaEventType* type, HRESULT* status) {
    const DWORD began = GetTickCount();
    for (;;) {
        ComPtr<IMFMediaEvent> event;
        const HRESULT hr = session->GetEvent(MF_EVENT_FLAG_NO_WAIT, &event);
        if (SUCCEEDED(hr)) {
            event->GetType(type);
            event->GetStatus(status);
            return S_OK;
        }
        if (hr != MF_E_NO_EVENTS_AVAILABLE) return hr;
        if (GetTickCount() - began >= limitMs) return MF_E_NO_EVENTS_AVAILABLE;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
    }
}

HWND CreateVideoWindow(const std::wstring& caption, int width, int height) {
    RECT frame = {0, 0, width, height};
    AdjustWindowRect(&frame, WS_OVERLAPPEDWINDOW, FALSE);
    HWND window = CreateWindowExW(0, L"STATIC", caption.c_str(), WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                                  frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr, nullptr,
                                  nullptr);
    if (window) UpdateWindow(window);
    return window;
}

// Whether the platform has an audio renderer to play into here.
bool AudioRendererAvailable() {
    ComPtr<IMFActivate> activate;
    ComPtr<IMFMediaSink> sink;
    if (FAILED(MFCreateAudioRendererActivate(&activate)) || FAILED(activate->ActivateObject(IID_PPV_ARGS(&sink)))) {
        return false;
    }
    activate->ShutdownObject();
    return true;
}

HRESULT AddBranch(IMFTopology* topology, IMFMediaSource* source, IMFPresentationDescriptor* presentation,
                  IMFStreamDescriptor* stream, IMFActivate* renderer) {
    ComPtr<IMFTopologyNode> from, to;
    HRESULT hr = MFCreateTopologyNode(MF_TOPOLOGY_SOURCESTREAM_NODE, &from);
    if (SUCCEEDED(hr)) hr = from->SetUnknown(MF_TOPONODE_SOURCE, source);
    if (SUCCEEDED(hr)) hr = from->SetUnknown(MF_TOPONODE_PRESENTATION_DESCRIPTOR, presentation);
    if (SUCCEEDED(hr)) hr = from->SetUnknown(MF_TOPONODE_STREAM_DESCRIPTOR, stream);
    if (SUCCEEDED(hr)) hr = topology->AddNode(from.Get());
    if (SUCCEEDED(hr)) hr = MFCreateTopologyNode(MF_TOPOLOGY_OUTPUT_NODE, &to);
    if (SUCCEEDED(hr)) hr = to->SetObject(renderer);
    if (SUCCEEDED(hr)) hr = topology->AddNode(to.Get());
    if (SUCCEEDED(hr)) hr = from->ConnectOutput(0, to.Get(), 0);
    return hr;
}

}  // namespace

CMfPlayer::CMfPlayer() {
    const HRESULT hr = MFStartup(MF_VERSION, MFSTARTUP_FULL);
    if (FAILED(hr)) throw CAppError(ExitCode::GraphFailure, L"graph failure: Media Foundation: " + DescribeHResult(hr));
    Started = true;
}

CMfPlayer::~CMfPlayer() {
    if (Started) MFShutdown();
}

void CMfPlayer::CheckReadable(const std::wstring& file) {
    wchar_t full[MAX_PATH * 2] = {};
    const DWORD length = GetFullPathNameW(file.c_str(), ARRAYSIZE(full), full, nullptr);
    Path = (length > 0 && length < ARRAYSIZE(full)) ? std::wstring(full) : file;
    const DWORD attributes = GetFileAttributesW(Path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        throw CAppError(ExitCode::FileUnreadable, L"file not found: " + file);
    }
    // Which handler MF takes for the extension, asked first: without ours,
    // Wine's resolver hands the file to a handler of its own, which fails
    // like a refused recording.
    const wchar_t* dot = wcsrchr(Path.c_str(), L'.');
    const std::wstring key = std::wstring(L"Software\\Microsoft\\Windows Media Foundation\\ByteStreamHandlers\\") +
                             (dot ? dot : L"");
    wchar_t ours[39];
    StringFromGUID2(CLSID_KXVDByteStreamHandler, ours, 39);
    bool registered = false;
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
        registered = registered || RegGetValueW(root, key.c_str(), ours, RRF_RT_REG_SZ, nullptr, nullptr, nullptr) ==
                                       ERROR_SUCCESS;
    }
    if (!registered) OpenFailed(file, MF_E_UNSUPPORTED_BYTESTREAM_TYPE);
}

void CMfPlayer::OpenFailed(const std::wstring& file, HRESULT hr) {
    if (hr == MF_E_UNSUPPORTED_BYTESTREAM_TYPE || hr == MF_E_UNSUPPORTED_SCHEME || hr == MF_E_UNSUPPORTED_FORMAT) {
        throw CAppError(ExitCode::NotRegistered,
                        L"no Media Foundation handler for " + file +
                            L": register the file type with regsvr32 /i:\"EXTENSION\" " KXVD_MODULE_FILE
                            L" (kxvplay --help open): " + DescribeHResult(hr));
    }
    if (hr == E_FAIL || hr == E_OUTOFMEMORY) {
        throw CAppError(ExitCode::RecordingRefused,
                        L"recording refused: the playback library cannot open or decode " + file);
    }
    throw CAppError(ExitCode::GraphFailure, L"graph failure: opening " + file + L" in Media Foundation: " +
                                                DescribeHResult(hr));
}

CMfPlayer::ReadSummary CMfPlayer::ReadAll(const std::wstring& file) {
    CheckReadable(file);
    ReadSummary summary;
    const DWORD began = GetTickCount();
    ComPtr<IMFSourceReader> reader;
    HRESULT hr = MFCreateSourceReaderFromURL(Path.c_str(), nullptr, &reader);
    if (FAILED(hr)) OpenFailed(file, hr);
    PROPVARIANT duration;
    PropVariantInit(&duration);
    if (SUCCEEDED(reader->GetPresentationAttribute(MF_SOURCE_READER_MEDIASOURCE, MF_PD_DURATION, &duration))) {
        summary.Duration = static_cast<LONGLONG>(duration.uhVal.QuadPart);
    }
    PropVariantClear(&duration);
    // Stream 0 the pictures, 1 the sound where the recording has sound.
    std::vector<StreamTally*> tallies = {&summary.Pictures, &summary.Sound};
    size_t open = 0;
    for (DWORD index = 0; index < tallies.size(); ++index) {
        BOOL selected = FALSE;
        if (FAILED(reader->GetStreamSelection(index, &selected))) break;
        tallies[index]->Present = true;
        ++open;
    }
    while (open > 0) {
        DWORD index = 0, flags = 0;
        LONGLONG time = 0;
        ComPtr<IMFSample> sample;
        hr = reader->ReadSample(MF_SOURCE_READER_ANY_STREAM, 0, &index, &flags, &time, &sample);
        if (FAILED(hr) || (flags & MF_SOURCE_READERF_ERROR)) {
            throw CAppError(ExitCode::GraphFailure, L"graph failure: reading " + file + L": " +
                                                        DescribeHResult(FAILED(hr) ? hr : E_FAIL));
        }
        if (sample && index < tallies.size()) Tally(tallies[index], sample.Get());
        if (flags & MF_SOURCE_READERF_ENDOFSTREAM) --open;
    }
    summary.WallSeconds = (GetTickCount() - began) / 1000.0;
    return summary;
}

CMfPlayer::SessionSummary CMfPlayer::Play(const std::wstring& file, const std::wstring& caption) {
    CheckReadable(file);
    SessionSummary summary;
    ComPtr<IMFSourceResolver> resolver;
    HRESULT hr = MFCreateSourceResolver(&resolver);
    if (FAILED(hr)) OpenFailed(file, hr);
    MF_OBJECT_TYPE type = MF_OBJECT_INVALID;
    ComPtr<IUnknown> object;
    hr = resolver->CreateObjectFromURL(Path.c_str(), MF_RESOLUTION_MEDIASOURCE, nullptr, &type, &object);
    if (FAILED(hr)) OpenFailed(file, hr);
    ComPtr<IMFMediaSource> source;
    object.As(&source);
    ComPtr<IMFPresentationDescriptor> presentation;
    hr = source->CreatePresentationDescriptor(&presentation);
    UINT64 length = 0;
    if (SUCCEEDED(hr)) presentation->GetUINT64(MF_PD_DURATION, &length);
    summary.Duration = static_cast<LONGLONG>(length);

    ComPtr<IMFTopology> topology;
    if (SUCCEEDED(hr)) hr = MFCreateTopology(&topology);
    HWND window = nullptr;
    DWORD streams = 0;
    if (SUCCEEDED(hr)) hr = presentation->GetStreamDescriptorCount(&streams);
    summary.Sound = streams > 1 && AudioRendererAvailable();
    for (DWORD index = 0; SUCCEEDED(hr) && index < streams; ++index) {
        BOOL selected = FALSE;
        ComPtr<IMFStreamDescriptor> stream;
        ComPtr<IMFMediaTypeHandler> handler;
        GUID major = GUID_NULL;
        hr = presentation->GetStreamDescriptorByIndex(index, &selected, &stream);
        if (SUCCEEDED(hr)) hr = stream->GetMediaTypeHandler(&handler);
        if (SUCCEEDED(hr)) hr = handler->GetMajorType(&major);
        if (FAILED(hr)) break;
        ComPtr<IMFActivate> renderer;
        if (IsEqualGUID(major, MFMediaType_Video)) {
            ComPtr<IMFMediaType> current;
            UINT32 width = 352, height = 288;
            if (SUCCEEDED(handler->GetCurrentMediaType(&current))) {
                MFGetAttributeSize(current.Get(), MF_MT_FRAME_SIZE, &width, &height);
            }
            window = CreateVideoWindow(caption, static_cast<int>(width), static_cast<int>(height));
            hr = MFCreateVideoRendererActivate(window, &renderer);
        } else if (summary.Sound) {
            hr = MFCreateAudioRendererActivate(&renderer);
        } else {
            presentation->DeselectStream(index);
            continue;
        }
        if (SUCCEEDED(hr)) hr = AddBranch(topology.Get(), source.Get(), presentation.Get(), stream.Get(), renderer.Get());
    }
    ComPtr<IMFMediaSession> session;
    if (SUCCEEDED(hr)) hr = MFCreateMediaSession(nullptr, &session);
    if (SUCCEEDED(hr)) hr = session->SetTopology(0, topology.Get());
    PROPVARIANT start;
    PropVariantInit(&start);
    DWORD began = GetTickCount();
    if (SUCCEEDED(hr)) hr = session->Start(&GUID_NULL, &start);
    DWORD limit = StartLimitMs;
    HRESULT failure = hr;
    while (SUCCEEDED(failure) && !summary.Ended) {
        const DWORD spent = GetTickCount() - began;
        MediaEventType event = MEUnknown;
        HRESULT status = S_OK;
        failure = spent < limit ? NextSessionEvent(session.Get(), limit - spent, &event, &status) : MF_E_NO_EVENTS_AVAILABLE;
        if (SUCCEEDED(failure) && FAILED(status)) failure = status;
        if (SUCCEEDED(failure) && event == MEError) failure = E_FAIL;
        summary.Ended = SUCCEEDED(failure) && event == MESessionEnded;
        if (SUCCEEDED(failure) && event == MESessionStarted) {
            began = GetTickCount();
            limit = static_cast<DWORD>(summary.Duration / 10000) + EndMarginMs;
        }
    }
    summary.WallSeconds = (GetTickCount() - began) / 1000.0;
    if (session) {
        session->Close();
        MediaEventType event = MEUnknown;
        HRESULT status = S_OK;
        const DWORD closing = GetTickCount();
        while (event != MESessionClosed && GetTickCount() - closing < CloseLimitMs &&
               SUCCEEDED(NextSessionEvent(session.Get(), CloseLimitMs, &event, &status))) {
        }
    }
    if (source) source->Shutdown();
    if (session) session->Shutdown();
    if (window) DestroyWindow(window);
    if (failure == MF_E_NO_EVENTS_AVAILABLE) {
        throw CAppError(ExitCode::GraphFailure, L"graph failure: the media session did not start within 120 s or "
                                                L"did not end within the recording's length and 30 s");
    }
    if (FAILED(failure)) {
        throw CAppError(ExitCode::GraphFailure, L"graph failure: the media session failed playing " + file + L": " +
                                                    DescribeHResult(failure));
    }
    return summary;
}
