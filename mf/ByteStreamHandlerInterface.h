// IMFByteStreamHandler, which the platform's source resolver calls to turn
// a byte stream into a media source. mingw-w64's headers leave it out; the
// layout and the id are the platform's.
#pragma once

#include <mfidl.h>

// {BB420AA4-765B-4A1F-91FE-D6A8A143924C}
inline constexpr IID IID_IMFByteStreamHandler =
    {0xbb420aa4, 0x765b, 0x4a1f, {0x91, 0xfe, 0xd6, 0xa8, 0xa1, 0x43, 0x92, 0x4c}};

struct IMFByteStreamHandler : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE BeginCreateObject(IMFByteStream* stream, LPCWSTR url, DWORD flags,
                                                        IPropertyStore* properties, IUnknown** cancelCookie,
                                                        IMFAsyncCallback* callback, IUnknown* state) = 0;
    virtual HRESULT STDMETHODCALLTYPE EndCreateObject(IMFAsyncResult* result, MF_OBJECT_TYPE* objectType,
                                                      IUnknown** object) = 0;
    virtual HRESULT STDMETHODCALLTYPE CancelObjectCreation(IUnknown* cancelCookie) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMaxNumberOfBytesRequiredForResolution(QWORD* bytes) = 0;
};
