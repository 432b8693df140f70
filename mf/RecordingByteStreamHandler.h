// The byte-stream handler the platform's source resolver creates (through
// the module's class factory) for the extensions registered for it: it turns
// a byte stream that names a file into a CRecordingMediaSource for that file.
// The source opens the file by its path (the URL the caller gave, else the
// stream's MF_BYTESTREAM_ORIGIN_NAME) through the module's media file, since
// the playback library reads files by name; a stream without a path (memory,
// network) is refused with MF_E_UNSUPPORTED_BYTESTREAM_TYPE and nothing is
// opened.
//
// The resolver calls BeginCreateObject on one of its work-queue threads, one
// handler per resolution; the open runs there, before the callback is
// invoked, so a cancellation has nothing left to stop. The async result
// carries the source to EndCreateObject in a store of the platform's, which
// EndCreateObject empties, so a result the work queue keeps does not keep the
// source. Keeps no state and takes no lock.
#pragma once

#include "framework/Unknown.h"
#include "mf/ByteStreamHandlerInterface.h"

#include <string>

class CRecordingByteStreamHandler : public CUnknown, public IMFByteStreamHandler {
public:
    explicit CRecordingByteStreamHandler(IUnknown* outer);

    KX_FORWARD_UNKNOWN_TO_OUTER
    HRESULT STDMETHODCALLTYPE InnerQueryInterface(REFIID id, void** out) override;

    HRESULT STDMETHODCALLTYPE BeginCreateObject(IMFByteStream* stream, LPCWSTR url, DWORD flags,
                                                IPropertyStore* properties, IUnknown** cancelCookie,
                                                IMFAsyncCallback* callback, IUnknown* state) override;
    HRESULT STDMETHODCALLTYPE EndCreateObject(IMFAsyncResult* result, MF_OBJECT_TYPE* objectType,
                                              IUnknown** object) override;
    HRESULT STDMETHODCALLTYPE CancelObjectCreation(IUnknown* cancelCookie) override;
    HRESULT STDMETHODCALLTYPE GetMaxNumberOfBytesRequiredForResolution(QWORD* bytes) override;

    // The file path a resolution names: a file URL's path, else the URL as
    // it is, else the stream's origin name; empty when there is none.
    static std::wstring PathOf(LPCWSTR url, IMFByteStream* stream);
};

// The class factory's entry.
CUnknown* CreateRecordingByteStreamHandler(IUnknown* outer, HRESULT* result);
