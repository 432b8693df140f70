#include "mf/RecordingByteStreamHandler.h"

#include "mf/RecordingMediaSource.h"

#include <mfapi.h>
#include <mferror.h>
#include <shlwapi.h>
#include <wrl/client.h>

#include <new>

using Microsoft::WRL::ComPtr;

namespace {

// The item of the creation's carrier (an attribute store of the platform's)
// that holds the created source from BeginCreateObject to EndCreateObject.
constexpr GUID CreatedSourceKey = {0xbce8db80, 0xbeff, 0x496c, {0x86, 0x03, 0x5a, 0xe0, 0xfb, 0x94, 0x89, 0x09}};

}  // namespace

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
    // The result carries the source in a store EndCreateObject takes it out
    // of: the work queue may keep the result after the callback (under Wine 8
    // past the application's end, in 2 of 12 runs), and with it would keep
    // the source and the module.
    ComPtr<IMFAttributes> carrier;
    ComPtr<IMFAsyncResult> result;
    HRESULT hr = MFCreateAttributes(&carrier, 1);
    if (SUCCEEDED(hr)) hr = carrier->SetUnknown(CreatedSourceKey, source.Get());
    if (SUCCEEDED(hr)) hr = MFCreateAsyncResult(carrier.Get(), callback, state, &result);
    if (SUCCEEDED(hr)) hr = MFInvokeCallback(result.Get());
    if (FAILED(hr)) {
        if (carrier) carrier->DeleteAllItems();
        source->Shutdown();
    }
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
    ComPtr<IUnknown> carried;
    ComPtr<IMFAttributes> carrier;
    // Handed out as the source interface itself, as the resolver uses it.
    ComPtr<IMFMediaSource> source;
    hr = result->GetObject(&carried);
    if (SUCCEEDED(hr)) hr = carried.As(&carrier);
    if (SUCCEEDED(hr)) hr = carrier->GetUnknown(CreatedSourceKey, IID_PPV_ARGS(&source));
    if (FAILED(hr)) return hr;
    carrier->DeleteItem(CreatedSourceKey);
    *objectType = MF_OBJECT_MEDIASOURCE;
    *object = static_cast<IUnknown*>(source.Detach());
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
