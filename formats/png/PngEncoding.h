// Encodes one picture as a PNG file through the platform's imaging component
// (WIC). Shared by kxvplay's pictures and contact sheets and the bench's chart.
// Any thread of a COM apartment; the factory is the caller's.
#pragma once

#include <wincodec.h>

#include <string>

// Writes height rows of stride bytes in the given pixel format. When the
// encoder would only take another layout the bytes would be misread, so that
// fails with WINCODEC_ERR_UNSUPPORTEDPIXELFORMAT rather than converting. A
// failed write may leave a partial file, which the caller removes.
HRESULT EncodePngFile(IWICImagingFactory* factory, const std::wstring& path, const void* pixels, UINT width,
                      UINT height, UINT stride, REFWICPixelFormatGUID format);
