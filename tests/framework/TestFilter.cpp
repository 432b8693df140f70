#include "TestFilter.h"

#include <cwchar>
#include <string>

#include <vfwmsgs.h>

// A class id that no real filter uses.
static const CLSID TestFilterClassId = {0x6a1c0b5e, 0x3f22, 0x4d7a, {0x9c, 0x51, 0x0e, 0x7d, 0x88, 0x12, 0x44, 0xa3}};

TestFilter* TestFilter::Create(int pinCount, IUnknown* outer) {
    auto* filter = new TestFilter(outer);
    filter->InnerAddRef();
    for (int i = 0; i < pinCount; ++i) {
        std::wstring name = L"Pin " + std::to_wstring(i);
        filter->AddPin(name.c_str());
    }
    return filter;
}

TestFilter::TestFilter(IUnknown* outer) : CBaseFilter("test filter", outer, &Lock, TestFilterClassId) {}

TestFilter::~TestFilter() {
    if (DestructorRuns) {
        ++*DestructorRuns;
    }
    if (ReenterOnDestroy) {
        InnerAddRef();
        InnerRelease();
    }
}

CBasePin* TestFilter::PinByIndex(int index) {
    if (index < 0 || index >= static_cast<int>(Pins.size())) {
        return nullptr;
    }
    return Pins[index].get();
}

TestPin* TestFilter::AddPin(const wchar_t* name) {
    Pins.push_back(std::make_unique<TestPin>(this, &Lock, name));
    return Pins.back().get();
}

HRESULT STDMETHODCALLTYPE TestFilter::FindPin(LPCWSTR, IPin** pin) {
    if (!pin) {
        return E_POINTER;
    }
    *pin = nullptr;
    return VFW_E_NOT_FOUND;
}

HRESULT STDMETHODCALLTYPE TestFilter::Pause() {
    ++PauseCalls;
    return CBaseFilter::Pause();
}
