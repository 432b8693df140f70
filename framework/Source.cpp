#include "framework/Source.h"

#include "framework/ScopedLock.h"
#include "framework/SourceStream.h"

#include <vfwmsgs.h>

#include <cstdlib>
#include <new>

CSource::CSource(const char* objectName, IUnknown* outer, REFCLSID classId)
    : CBaseFilter(objectName, outer, &StateLock, classId), PinCount(0) {}

CSource::~CSource() {
    // A filter released while paused or running (no graph stopped it) would
    // otherwise delete streams whose workers are still pushing.
    if (CurrentState() != State_Stopped) CBaseFilter::Stop();
    while (PinCount != 0) delete Pins[PinCount - 1];
}

HRESULT CSource::AppendPin(CSourceStream* stream) {
    CScopedLock hold(&StateLock);
    std::unique_ptr<CSourceStream*[]> grown(new (std::nothrow) CSourceStream*[PinCount + 1]);
    if (!grown) return E_OUTOFMEMORY;
    for (int i = 0; i < PinCount; ++i) grown[i] = Pins[i];
    grown[PinCount] = stream;
    Pins = std::move(grown);
    ++PinCount;
    return S_OK;
}

HRESULT CSource::DropPin(CSourceStream* stream) {
    int found = 0;
    while (found < PinCount && Pins[found] != stream) ++found;
    if (found == PinCount) return S_FALSE;
    if (PinCount == 1) {
        Pins.reset();
    } else {
        for (int i = found + 1; i < PinCount; ++i) Pins[i - 1] = Pins[i];
    }
    --PinCount;
    return S_OK;
}

int CSource::IndexOfPin(IPin* pin) {
    for (int i = 0; i < PinCount; ++i) {
        if (static_cast<IPin*>(Pins[i]) == pin) return i;
    }
    return -1;
}

int CSource::CountPins() {
    CScopedLock hold(&StateLock);
    return PinCount;
}

CBasePin* CSource::PinByIndex(int index) {
    CScopedLock hold(&StateLock);
    if (index < 0 || index >= PinCount) return nullptr;
    return Pins[index];
}

HRESULT STDMETHODCALLTYPE CSource::FindPin(LPCWSTR id, IPin** pin) {
    if (!pin) return E_POINTER;
    *pin = nullptr;
    if (!id) return E_POINTER;
    CBasePin* found = PinByIndex(_wtoi(id) - 1);
    if (!found) return VFW_E_NOT_FOUND;
    *pin = static_cast<IPin*>(found);
    (*pin)->AddRef();
    return S_OK;
}
