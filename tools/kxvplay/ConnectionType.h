// The media type a pin is connected with, freed on destruction. Main thread.
#pragma once

#include <dshow.h>
#include <mmreg.h>

class CConnectionType {
public:
    explicit CConnectionType(IPin* pin);
    ~CConnectionType();
    CConnectionType(const CConnectionType&) = delete;
    CConnectionType& operator=(const CConnectionType&) = delete;

    // The video header of a YUY2 picture type, else null.
    const VIDEOINFOHEADER* Yuy2Video() const;
    // The wave format of a PCM sound type, else null.
    const PCMWAVEFORMAT* PcmSound() const;

    HRESULT Result = S_OK;   // of asking the pin
    AM_MEDIA_TYPE Type = {};
};
