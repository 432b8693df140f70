// IEnumPins over a CBaseFilter's pins. Holds one reference on the filter for
// its whole life; ReturnedPins holds no references. Keeps its own reference
// count and is not a live framework object. Takes no lock: concurrent calls on
// one enumerator are not serialised; the filter is read through its virtual
// operations.
#pragma once

#include <windows.h>
#include <strmif.h>

#include <vector>

class CBaseFilter;
class CBasePin;

class CEnumPins : public IEnumPins {
public:
    // Starts with one reference, which passes to the creator. With a source,
    // continues from the source's position and remembers its returned pins.
    CEnumPins(CBaseFilter* filter, const CEnumPins* source);

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE Next(ULONG count, IPin** pins, ULONG* fetched) override;
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override;
    HRESULT STDMETHODCALLTYPE Reset() override;
    HRESULT STDMETHODCALLTYPE Clone(IEnumPins** clone) override;
    virtual ~CEnumPins();

    CEnumPins(const CEnumPins&) = delete;
    CEnumPins& operator=(const CEnumPins&) = delete;

private:
    void ResyncWithFilter();
    bool AlreadyReturned(CBasePin* pin) const;

    LONG EnumPosition;
    LONG EnumCount;
    CBaseFilter* const OwnerOfPins;
    LONG EnumVersion;
    volatile LONG EnumRefCount;
    std::vector<CBasePin*> ReturnedPins;
};
