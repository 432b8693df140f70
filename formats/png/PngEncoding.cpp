#include "formats/png/PngEncoding.h"

#include <wrl/client.h>

using Microsoft::WRL::ComPtr;

HRESULT EncodePngFile(IWICImagingFactory* factory, const std::wstring& path, const void* pixels, UINT width,
                      UINT height, UINT stride, REFWICPixelFormatGUID format) {
    ComPtr<IWICStream> stream;
    HRESULT hr = factory->CreateStream(&stream);
    if (SUCCEEDED(hr)) hr = stream->InitializeFromFilename(path.c_str(), GENERIC_WRITE);
    ComPtr<IWICBitmapEncoder> encoder;
    if (SUCCEEDED(hr)) hr = factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder);
    if (SUCCEEDED(hr)) hr = encoder->Initialize(stream.Get(), WICBitmapEncoderNoCache);
    ComPtr<IWICBitmapFrameEncode> frame;
    if (SUCCEEDED(hr)) hr = encoder->CreateNewFrame(&frame, nullptr);
    if (SUCCEEDED(hr)) hr = frame->Initialize(nullptr);
    if (SUCCEEDED(hr)) hr = frame->SetSize(width, height);
    WICPixelFormatGUID offered = format;
    if (SUCCEEDED(hr)) hr = frame->SetPixelFormat(&offered);
    if (SUCCEEDED(hr) && !IsEqualGUID(offered, format)) hr = WINCODEC_ERR_UNSUPPORTEDPIXELFORMAT;
    if (SUCCEEDED(hr)) {
        hr = frame->WritePixels(height, stride, stride * height, static_cast<BYTE*>(const_cast<void*>(pixels)));
    }
    if (SUCCEEDED(hr)) hr = frame->Commit();
    if (SUCCEEDED(hr)) hr = encoder->Commit();
    return hr;
}
