#include "AllocationSpy.h"

#include <objbase.h>

AllocationSpy::AllocationSpy() : IsRegistered(SUCCEEDED(CoRegisterMallocSpy(this))) {}

AllocationSpy::~AllocationSpy() {
    if (IsRegistered) {
        CoRevokeMallocSpy();
    }
}

size_t AllocationSpy::LiveBlocks() {
    std::lock_guard<std::mutex> hold(Guard);
    return Live.size();
}

size_t AllocationSpy::Allocations() {
    std::lock_guard<std::mutex> hold(Guard);
    return AllocationCount;
}

size_t AllocationSpy::BadFrees() {
    std::lock_guard<std::mutex> hold(Guard);
    return BadFreeCount;
}

HRESULT STDMETHODCALLTYPE AllocationSpy::QueryInterface(REFIID id, void** out) {
    if (!out) {
        return E_POINTER;
    }
    if (IsEqualGUID(id, IID_IUnknown) || IsEqualGUID(id, IID_IMallocSpy)) {
        *out = static_cast<IMallocSpy*>(this);
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

void* STDMETHODCALLTYPE AllocationSpy::PostAlloc(void* actual) {
    if (actual) {
        std::lock_guard<std::mutex> hold(Guard);
        Live.insert(actual);
        ++AllocationCount;
    }
    return actual;
}

void* STDMETHODCALLTYPE AllocationSpy::PreFree(void* request, BOOL) {
    if (request) {
        std::lock_guard<std::mutex> hold(Guard);
        if (Live.erase(request) == 0) {
            ++BadFreeCount;
        }
    }
    return request;
}
