// The inner (non-delegating) unknown of every aggregatable framework object.
// CUnknown owns the reference count; the object's public interfaces forward
// QueryInterface/AddRef/Release to OuterUnknown, which is either the
// aggregating object or this object's own inner unknown. Any thread may add or
// drop references: RefCount changes only by interlocked operations.
#pragma once

#include "framework/BaseObject.h"

#include <unknwn.h>

// Same slots and calling convention as IUnknown, so a pointer to it can be
// handed out as the object's IUnknown.
struct INonDelegatingUnknown {
    virtual HRESULT STDMETHODCALLTYPE InnerQueryInterface(REFIID id, void** out) = 0;
    virtual ULONG STDMETHODCALLTYPE InnerAddRef() = 0;
    virtual ULONG STDMETHODCALLTYPE InnerRelease() = 0;
};

// Stores the pointer through out and adds one reference through the pointer's
// own AddRef slot, so the reference lands on whatever that slot reaches.
HRESULT HandOutInterface(IUnknown* iface, void** out);

class CUnknown : public INonDelegatingUnknown, public CBaseObject {
public:
    // outer null: the object controls itself.
    CUnknown(const char* objectName, IUnknown* outer);

    HRESULT STDMETHODCALLTYPE InnerQueryInterface(REFIID id, void** out) override;
    ULONG STDMETHODCALLTYPE InnerAddRef() override;
    ULONG STDMETHODCALLTYPE InnerRelease() override;
    virtual ~CUnknown();

    // The controlling unknown; no reference is held on it.
    IUnknown* GetOuterUnknown() const { return OuterUnknown; }
    // This object's own inner unknown, as an IUnknown.
    IUnknown* InnerUnknown() { return reinterpret_cast<IUnknown*>(static_cast<INonDelegatingUnknown*>(this)); }

protected:
    IUnknown* const OuterUnknown;
    volatile LONG RefCount;
};

// Public interface entries of a CUnknown-derived class: forward to the
// controlling unknown and return its result unchanged.
#define KX_FORWARD_UNKNOWN_TO_OUTER                                              \
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** out) override {  \
        return OuterUnknown->QueryInterface(id, out);                            \
    }                                                                            \
    ULONG STDMETHODCALLTYPE AddRef() override { return OuterUnknown->AddRef(); } \
    ULONG STDMETHODCALLTYPE Release() override { return OuterUnknown->Release(); }
