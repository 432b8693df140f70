#include "ConnectionType.h"

#include <uuids.h>

CConnectionType::CConnectionType(IPin* pin) {
    Result = pin->ConnectionMediaType(&Type);
}

CConnectionType::~CConnectionType() {
    if (Type.cbFormat) CoTaskMemFree(Type.pbFormat);
    if (Type.pUnk) Type.pUnk->Release();
}

const VIDEOINFOHEADER* CConnectionType::Yuy2Video() const {
    if (FAILED(Result) || Type.subtype != MEDIASUBTYPE_YUY2 || Type.formattype != FORMAT_VideoInfo ||
        Type.cbFormat < sizeof(VIDEOINFOHEADER) || !Type.pbFormat) {
        return nullptr;
    }
    return reinterpret_cast<const VIDEOINFOHEADER*>(Type.pbFormat);
}

const PCMWAVEFORMAT* CConnectionType::PcmSound() const {
    if (FAILED(Result) || Type.formattype != FORMAT_WaveFormatEx || Type.cbFormat < sizeof(PCMWAVEFORMAT) ||
        !Type.pbFormat) {
        return nullptr;
    }
    const auto* wave = reinterpret_cast<const PCMWAVEFORMAT*>(Type.pbFormat);
    return wave->wf.wFormatTag == WAVE_FORMAT_PCM ? wave : nullptr;
}
