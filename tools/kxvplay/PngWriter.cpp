#include "PngWriter.h"

#include "AppError.h"
#include "HResultText.h"
#include "formats/png/PngEncoding.h"

CPngWriter::CPngWriter() {
    const HRESULT hr =
        CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&Factory));
    if (FAILED(hr)) {
        throw CAppError(ExitCode::OutputFailure, L"cannot create the imaging component (WIC): " + DescribeHResult(hr));
    }
}

HRESULT CPngWriter::Write(const std::wstring& path, const BgrImage& image) const {
    return EncodePngFile(Factory.Get(), path, image.Pixels.data(), static_cast<UINT>(image.Width),
                         static_cast<UINT>(image.Height), static_cast<UINT>(image.Stride()),
                         GUID_WICPixelFormat24bppBGR);
}
