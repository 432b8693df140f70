// IEnumMediaTypes over a CBasePin's proposed types. Holds one reference on
// the pin (and so on its filter) for its whole life. Keeps its own reference
// count and is not a live framework object. Takes no lock: concurrent calls on
// one enumerator are not serialised. Every record Next hands out is
// task-allocated and owned by the caller (FreeMediaTypeBlock).
#pragma once

#include <windows.h>
#include <strmif.h>

class CBasePin;

class CEnumMediaTypes : public IEnumMediaTypes {
public:
    // Starts with one reference, which passes to the creator.
    CEnumMediaTypes(CBasePin* pin, const CEnumMediaTypes* source);

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) override;
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override;
    HRESULT STDMETHODCALLTYPE Reset() override;
    HRESULT STDMETHODCALLTYPE Clone(IEnumMediaTypes** clone) override;
    virtual ~CEnumMediaTypes();

    CEnumMediaTypes(const CEnumMediaTypes&) = delete;
    CEnumMediaTypes& operator=(const CEnumMediaTypes&) = delete;

private:
    LONG EnumPosition;
    CBasePin* const OwnerPin;
    LONG EnumVersion;
    volatile LONG EnumRefCount;
};
