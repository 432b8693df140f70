// A filter for tests that owns a changeable list of TestPins. Made with
// Create (one reference, which the caller owns); the testing thread changes
// the pin list only while no enumerator walks it.
#pragma once

#include "TestPin.h"

#include "framework/BaseFilter.h"
#include "framework/CritLock.h"

#include <memory>
#include <vector>

class TestFilter : public CBaseFilter {
public:
    // The filter with one reference held by the caller and pinCount pins.
    static TestFilter* Create(int pinCount, IUnknown* outer = nullptr);

    int CountPins() override { return static_cast<int>(Pins.size()); }
    CBasePin* PinByIndex(int index) override;
    HRESULT STDMETHODCALLTYPE FindPin(LPCWSTR id, IPin** pin) override;

    TestPin* Pin(int index) { return Pins[index].get(); }
    TestPin* AddPin(const wchar_t* name);
    void DropLastPin() { Pins.pop_back(); }
    void BumpPinVersion() { ++PinVersion; }
    LONG CurrentRefCount() const { return RefCount; }
    IUnknown* Inner() { return InnerUnknown(); }

    // Counts the filter's own Pause, to see that Run goes through the table.
    int PauseCalls = 0;
    HRESULT STDMETHODCALLTYPE Pause() override;

    // Runs a reference taken and dropped on this object inside the destructor.
    bool ReenterOnDestroy = false;
    int* DestructorRuns = nullptr;
    ~TestFilter() override;

private:
    explicit TestFilter(IUnknown* outer);

    CCritLock Lock;
    std::vector<std::unique_ptr<TestPin>> Pins;
};
