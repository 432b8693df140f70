// Watches the COM task allocator while registered: every block allocated must
// be freed exactly once. Registered for one scope on the testing thread; the
// live set is guarded by its own lock because the allocator may call from any
// thread.
#pragma once

#include <objidl.h>

#include <mutex>
#include <set>

class AllocationSpy : public IMallocSpy {
public:
    AllocationSpy();
    virtual ~AllocationSpy();

    bool Registered() const { return IsRegistered; }
    size_t LiveBlocks();
    size_t Allocations();
    // Frees of blocks that were not live (double frees or foreign blocks).
    size_t BadFrees();

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    SIZE_T STDMETHODCALLTYPE PreAlloc(SIZE_T request) override { return request; }
    void* STDMETHODCALLTYPE PostAlloc(void* actual) override;
    void* STDMETHODCALLTYPE PreFree(void* request, BOOL spyed) override;
    void STDMETHODCALLTYPE PostFree(BOOL) override {}
    SIZE_T STDMETHODCALLTYPE PreRealloc(void* request, SIZE_T size, void** newRequest, BOOL) override {
        *newRequest = request;
        return size;
    }
    void* STDMETHODCALLTYPE PostRealloc(void* actual, BOOL) override { return actual; }
    void* STDMETHODCALLTYPE PreGetSize(void* request, BOOL) override { return request; }
    SIZE_T STDMETHODCALLTYPE PostGetSize(SIZE_T actual, BOOL) override { return actual; }
    void* STDMETHODCALLTYPE PreDidAlloc(void* request, BOOL) override { return request; }
    int STDMETHODCALLTYPE PostDidAlloc(void*, BOOL, int actual) override { return actual; }
    void STDMETHODCALLTYPE PreHeapMinimize() override {}
    void STDMETHODCALLTYPE PostHeapMinimize() override {}

private:
    std::mutex Guard;
    std::set<void*> Live;
    size_t AllocationCount = 0;
    size_t BadFreeCount = 0;
    bool IsRegistered = false;
};
