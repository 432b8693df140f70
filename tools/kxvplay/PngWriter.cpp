#include "PngWriter.h"

#include "AppError.h"
#include "HResultText.h"

using Microsoft::WRL::ComPtr;

CPngWriter::CPngWriter() {
    const HRESULT hr =
        CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&Factory));
    if (FAILED(hr)) {
        throw CAppError(ExitCode::OutputFailure, L"cannot create the imaging component (WIC): " + DescribeHResult(hr));
    }
}

HRESULT CPngWriter::Write(const std::wstring& path, const BgrImage& image) const {
    ComPtr<IWICStream> stream;
    HRESULT hr = Factory->CreateStream(&stream);
    if (SUCCEEDED(hr)) hr = stream->InitializeFromFilename(path.c_str(), GENERIC_WRITE);
    ComPtr<IWICBitmapEncoder> encoder;
    if (SUCCEEDED(hr)) hr = Factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder);
    if (SUCCEEDED(hr)) hr = encoder->Initialize(stream.Get(), WICBitmapEncoderNoCache);
    ComPtr<IWICBitmapFrameEncode> frame;
    if (SUCCEEDED(hr)) hr = encoder->CreateNewFrame(&frame, nullptr);
    if (SUCCEEDED(hr)) hr = frame->Initialize(nullptr);
    if (SUCCEEDED(hr)) hr = frame->SetSize(static_cast<UINT>(image.Width), static_cast<UINT>(image.Height));
    WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
    if (SUCCEEDED(hr)) hr = frame->SetPixelFormat(&format);
    // The encoder may only offer a different layout; then the bytes would
    // be misread, so that is a failure rather than a silent conversion.
    if (SUCCEEDED(hr) && !IsEqualGUID(format, GUID_WICPixelFormat24bppBGR)) hr = WINCODEC_ERR_UNSUPPORTEDPIXELFORMAT;
    if (SUCCEEDED(hr)) {
        hr = frame->WritePixels(static_cast<UINT>(image.Height), static_cast<UINT>(image.Stride()),
                                static_cast<UINT>(image.Pixels.size()), const_cast<BYTE*>(image.Pixels.data()));
    }
    if (SUCCEEDED(hr)) hr = frame->Commit();
    if (SUCCEEDED(hr)) hr = encoder->Commit();
    return hr;
}
