// The keys through which Media Foundation's source resolver finds our
// byte-stream handler for an extension:
// HKLM\Software\Microsoft\Windows Media Foundation\ByteStreamHandlers\.ext
// holds one REG_SZ value per handler, named by its class id, the data a
// description. Our value is added there; a handler another product had for
// the extension is set aside under "KXVD Previous {its class id}" (data and
// type as they were), so the resolver tries ours, and is put back on
// removal; a key left empty goes.
//
// Written in the registry view of the calling module's width. Called on the
// thread that runs the module's registration exports; keeps no state, takes
// no lock.
#pragma once

#include <windows.h>

#include <string>

class CByteStreamHandlerRegistration {
public:
    static HRESULT Add(const std::wstring& extension);
    // Every extension key that names our handler. The first failure, S_OK
    // when none.
    static HRESULT RemoveAll();
};
