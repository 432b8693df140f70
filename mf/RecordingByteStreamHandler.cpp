#include "mf/RecordingByteStreamHandler.h"

#include "mf/RecordingMediaSource.h"

#include <mfapi.h>
#include <mferror.h>
#include <shlwapi.h>
#include <wrl/client.h>

#include <new>

using Microsoft::WRL::ComPtr;

CUnknown* CreateRecordingByteStreamHandler(IUnknown* outer, HRESULT* result) {
    CRecordingByteStreamHandler* handler = new (std::nothrow) CRecordingByteStreamHandler(outer);
    if (!handler) *result = E_OUTOFMEMORY;
    return handler;
}

CRecordingByteStreamHandler::CRecordingByteStreamHandler(IUnknown* outer)
    : CUnknown("Recording byte-stream handler", outer) {}

HRESULT STDMETHODCALLTYPE CRecordingByteStreamHandler::InnerQueryInterface(REFIID id, void** out) {
    if (!out) return E_POINTER;
    if (IsEqualIID(id, IID_IMFByteStreamHandler)) {
        return HandOutInterface(static_cast<IMFByteStreamHandler*>(this), out);
    }
    return CUnknown::InnerQueryInterface(id, out);
}

std::wstring CRecordingByteStreamHandler::PathOf(LPCWSTR url, IMFByteStream* stream) {
    if (url && *url) {
        if (_wcsnicmp(url, L"file:", 5) != 0) return url;
        wchar_t path[MAX_PATH * 4];
        DWORD length = ARRAYSIZE(path);
        if (SUCCEEDED(PathCreateFromUrlW(url, path, &length, 0))) return path;
    }
    ComPtr<IMFAttributes> attributes;
    if (!stream || FAILED(stream->QueryInterface(IID_PPV_ARGS(&attributes)))) return std::wstring();
    UINT32 length = 0;
    if (FAILED(attributes->GetStringLength(MF_BYTESTREAM_ORIGIN_NAME, &length)) || length == 0) {
        return std::wstring();
    }
    std::wstring name(length + 1, L'\0');
    if (FAILED(attributes->GetString(MF_BYTESTREAM_ORIGIN_NAME, &name[0], length + 1, nullptr))) {
        return std::wstring();
    }
    name.resize(length);
    return name;
}

HRESULT STDMETHODCALLTYPE CRecordingByteStreamHandler::BeginCreateObject(IMFByteStream* stream, LPCWSTR url,
                                                                         DWORD flags, IPropertyStore*,
                                                                         IUnknown** cancelCookie,
                                                                         IMFAsyncCallback* callback,
                                                                         IUnknown* state) {
    if (!callback) return E_POINTER;
    if (cancelCookie) *cancelCookie = nullptr;
    if (!(flags & MF_RESOLUTION_MEDIASOURCE)) return MF_E_UNSUPPORTED_BYTESTREAM_TYPE;
    const std::wstring path = PathOf(url, stream);
    if (path.empty()) return MF_E_UNSUPPORTED_BYTESTREAM_TYPE;

    ComPtr<IMFMediaSource> source;
    const HRESULT created = CRecordingMediaSource::Create(path.c_str(), &source);
    if (FAILED(created)) return created;
    ComPtr<IMFAsyncResult> result;
    HRESULT hr = MFCreateAsyncResult(source.Get(), callback, state, &result);
    if (SUCCEEDED(hr)) hr = MFInvokeCallback(result.Get());
    if (FAILED(hr)) source->Shutdown();
    return hr;
}

HRESULT STDMETHODCALLTYPE CRecordingByteStreamHandler::EndCreateObject(IMFAsyncResult* result,
                                                                       MF_OBJECT_TYPE* objectType,
                                                                       IUnknown** object) {
    if (!result || !objectType || !object) return E_POINTER;
    *objectType = MF_OBJECT_INVALID;
    *object = nullptr;
    HRESULT hr = result->GetStatus();
    if (FAILED(hr)) return hr;
    ComPtr<IUnknown> source;
    hr = result->GetObject(&source);
    if (FAILED(hr)) return hr;
    *objectType = MF_OBJECT_MEDIASOURCE;
    *object = source.Detach();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CRecordingByteStreamHandler::CancelObjectCreation(IUnknown*) {
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CRecordingByteStreamHandler::GetMaxNumberOfBytesRequiredForResolution(QWORD* bytes) {
    if (!bytes) return E_POINTER;
    // The file is opened by its path; nothing is read from the stream.
    *bytes = 0;
    return S_OK;
}
