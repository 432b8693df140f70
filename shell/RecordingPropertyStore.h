// The Explorer details of a recording, read-only: duration, picture size,
// frame rate, FourCC and, where there is sound, its rate and channels. The
// values are read once, in Initialize, on a bounded worker (CBoundedWork):
// a recording, library or helper that fails or hangs fails Initialize
// within PropertiesLimitMs, and the shell shows no details.
//
// Threads: the shell's; StoreLock guards Values and Initialised (any thread
// may read a property while another initialises, as COM "Both" allows).
#pragma once

#include "framework/CritLock.h"
#include "framework/Unknown.h"

#include <propsys.h>

#include <vector>

class CRecordingPropertyStore : public CUnknown,
                                public IPropertyStore,
                                public IInitializeWithFile,
                                public IPropertyStoreCapabilities {
public:
    static constexpr DWORD PropertiesLimitMs = 5000;

    explicit CRecordingPropertyStore(IUnknown* outer);
    ~CRecordingPropertyStore() override;

    KX_FORWARD_UNKNOWN_TO_OUTER
    HRESULT STDMETHODCALLTYPE InnerQueryInterface(REFIID id, void** out) override;

    // IInitializeWithFile: once; read access only.
    HRESULT STDMETHODCALLTYPE Initialize(LPCWSTR path, DWORD mode) override;

    // IPropertyStore: the values read; writing is refused.
    HRESULT STDMETHODCALLTYPE GetCount(DWORD* count) override;
    HRESULT STDMETHODCALLTYPE GetAt(DWORD index, PROPERTYKEY* key) override;
    HRESULT STDMETHODCALLTYPE GetValue(REFPROPERTYKEY key, PROPVARIANT* value) override;
    HRESULT STDMETHODCALLTYPE SetValue(REFPROPERTYKEY key, REFPROPVARIANT value) override;
    HRESULT STDMETHODCALLTYPE Commit() override;

    // IPropertyStoreCapabilities: nothing is writable.
    HRESULT STDMETHODCALLTYPE IsPropertyWritable(REFPROPERTYKEY key) override;

private:
    struct Property {
        PROPERTYKEY Key;
        // VT_UI4 or VT_UI8; nothing to free.
        PROPVARIANT Value;
    };

    CCritLock StoreLock;
    std::vector<Property> Values;   // guarded by StoreLock
    bool Initialised = false;       // guarded by StoreLock
};

// The factory table's creation function.
CUnknown* CreateRecordingPropertyStore(IUnknown* outer, HRESULT* result);
