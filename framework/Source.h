// CSource: a filter that owns a list of streaming output pins (CSourceStream)
// and one lock, StateLock, which is the lock of the filter and of every pin.
// Pin ids are "1", "2", ... in list order.
//
// Owns Pins (the array) and the streams in it: it deletes them when it is
// destroyed. A stream adds itself to the list when it is constructed and
// removes itself when it is destroyed; nothing else changes the list.
//
// Threads: the application's and graph's threads. StateLock guards the
// filter's state (as CBaseFilter's FilterLock), the pins' connections and
// AppendPin/CountPins/PinByIndex. It comes first in the lock order: before any
// stream's own locks and before the workers' request channel, since the
// filter holds it while it waits for a worker's reply; no worker takes it.
// DropPin and IndexOfPin take no lock: the list only changes while streams
// are constructed or destroyed, which the derived filter does under
// StateLock or in its destructor.
#pragma once

#include "framework/BaseFilter.h"
#include "framework/CritLock.h"

#include <windows.h>
#include <strmif.h>

#include <memory>

class CSourceStream;

class CSource : public CBaseFilter {
public:
    CSource(const char* objectName, IUnknown* outer, REFCLSID classId);
    // Stops the streams' workers if the filter is still active, then deletes
    // the streams, last first.
    ~CSource() override;

    // E_OUTOFMEMORY leaves the list as it was.
    HRESULT AppendPin(CSourceStream* stream);
    // S_FALSE when the stream is not in the list.
    HRESULT DropPin(CSourceStream* stream);
    // The index of the stream whose IPin is pin, or -1.
    int IndexOfPin(IPin* pin);

    int CountPins() override;
    CBasePin* PinByIndex(int index) override;

    // id "n" is the pin at index n - 1; VFW_E_NOT_FOUND with a null pin
    // otherwise.
    HRESULT STDMETHODCALLTYPE FindPin(LPCWSTR id, IPin** pin) override;

protected:
    int PinCount;
    // Holds exactly PinCount used entries; longer after removals.
    std::unique_ptr<CSourceStream*[]> Pins;
    CCritLock StateLock;
};
