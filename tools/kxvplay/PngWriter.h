// Writes BGR pictures as PNG files through the platform's imaging component
// (WIC). Owns the imaging factory. Created on the main thread; Write may be
// called from any thread of the multithreaded apartment, one at a time.
#pragma once

#include "picture/BgrImage.h"

#include <wincodec.h>
#include <wrl/client.h>

#include <string>

class CPngWriter {
public:
    // Throws CAppError(OutputFailure) when the imaging component is missing.
    CPngWriter();

    // The first failing HRESULT, or S_OK. A failed write may leave a
    // partial file, which the caller removes.
    HRESULT Write(const std::wstring& path, const BgrImage& image) const;

private:
    Microsoft::WRL::ComPtr<IWICImagingFactory> Factory;
};
