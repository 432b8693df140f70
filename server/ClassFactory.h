// The class factory handed out by DllGetClassObject for one FactoryTable
// entry. It counts as a live framework object while it exists, so the module
// is not unloaded under a factory that an application still holds.
//
// Owns nothing: FactoryEntry points into the constant table. Any thread may
// call it; FactoryRefCount changes by interlocked operations.
#pragma once

#include "framework/Unknown.h"
#include "server/FactoryTemplate.h"

#include <unknwn.h>

class CClassFactory : public IClassFactory, public CBaseObject {
public:
    explicit CClassFactory(const FactoryTemplate* entry);
    virtual ~CClassFactory() = default;
    CClassFactory(const CClassFactory&) = delete;
    CClassFactory& operator=(const CClassFactory&) = delete;

    STDMETHODIMP QueryInterface(REFIID id, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID id, void** out) override;
    STDMETHODIMP LockServer(BOOL lock) override;

private:
    const FactoryTemplate* FactoryEntry;
    volatile LONG FactoryRefCount = 0;
};
