#include "bench/MfReaderRun.h"

#include "bench/Stopwatch.h"
#include "common/AsyncResultWait.h"
#include "common/KXVDSrcClsid.h"
#include "mf/ByteStreamHandlerInterface.h"

#include <mfapi.h>
#include <mferror.h>
#include <mfreadwrite.h>
#include <wrl/client.h>

using Microsoft::WRL::ComPtr;

CMfReaderRun::CMfReaderRun() : Started(SUCCEEDED(MFStartup(MF_VERSION, MFSTARTUP_FULL))) {}

CMfReaderRun::~CMfReaderRun() {
    if (Started) MFShutdown();
}

HRESULT CMfReaderRun::Run(HMODULE module, const std::wstring& recording, DWORD timeoutMs, double* seconds,
                          uint32_t* pictures) {
    *seconds = 0;
    *pictures = 0;
    if (!Started) return MF_E_PLATFORM_NOT_INITIALIZED;
    using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    auto entry = reinterpret_cast<GetClassObject>(reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
    ComPtr<IClassFactory> factory;
    ComPtr<IMFByteStreamHandler> handler;
    HRESULT hr = entry ? entry(CLSID_KXVDByteStreamHandler, IID_PPV_ARGS(&factory)) : E_NOINTERFACE;
    if (SUCCEEDED(hr)) {
        hr = factory->CreateInstance(nullptr, IID_IMFByteStreamHandler, reinterpret_cast<void**>(handler.GetAddressOf()));
    }
    if (FAILED(hr)) return hr;

    const int64_t began = CStopwatch::Ticks();
    const ComPtr<CAsyncResultWait> creation = CAsyncResultWait::Make();
    if (!creation) return E_OUTOFMEMORY;
    hr = handler->BeginCreateObject(nullptr, recording.c_str(), MF_RESOLUTION_MEDIASOURCE, nullptr, nullptr,
                                    creation.Get(), nullptr);
    if (FAILED(hr)) return hr;
    const ComPtr<IMFAsyncResult> result = creation->Await(timeoutMs);
    if (!result) return HRESULT_FROM_WIN32(ERROR_TIMEOUT);
    MF_OBJECT_TYPE type = MF_OBJECT_INVALID;
    ComPtr<IUnknown> created;
    hr = handler->EndCreateObject(result.Get(), &type, &created);
    if (FAILED(hr)) return hr;
    ComPtr<IMFMediaSource> source;
    ComPtr<IMFSourceReader> reader;
    hr = created.As(&source);
    if (SUCCEEDED(hr)) hr = MFCreateSourceReaderFromMediaSource(source.Get(), nullptr, &reader);
    int open = 0;
    for (DWORD index = 0; SUCCEEDED(hr); ++index) {
        BOOL selected = FALSE;
        if (FAILED(reader->GetStreamSelection(index, &selected))) break;
        ++open;
    }
    while (SUCCEEDED(hr) && open > 0) {
        DWORD index = 0, flags = 0;
        LONGLONG time = 0;
        ComPtr<IMFSample> sample;
        hr = reader->ReadSample(MF_SOURCE_READER_ANY_STREAM, 0, &index, &flags, &time, &sample);
        if (SUCCEEDED(hr) && (flags & MF_SOURCE_READERF_ERROR)) hr = E_FAIL;
        if (sample && index == 0) ++*pictures;
        if (flags & MF_SOURCE_READERF_ENDOFSTREAM) --open;
        if (CStopwatch::TicksToSeconds(CStopwatch::Ticks() - began) * 1000 > timeoutMs) {
            hr = HRESULT_FROM_WIN32(ERROR_TIMEOUT);
        }
    }
    *seconds = CStopwatch::TicksToSeconds(CStopwatch::Ticks() - began);
    reader.Reset();
    if (source) source->Shutdown();
    return hr;
}
