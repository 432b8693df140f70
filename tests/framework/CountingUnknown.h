// An IUnknown that only counts its references and offers no interface: a
// stand-in outer unknown or an extra reference holder whose count the tests read.
#pragma once

#include <windows.h>
#include <unknwn.h>

class CountingUnknown : public IUnknown {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    LONG References = 0;
};
