#include "CountingUnknown.h"
#include "LiveObjectTest.h"
#include "TestFilter.h"

#include "framework/Unknown.h"

namespace {

class PlainObject : public CUnknown {
public:
    explicit PlainObject(IUnknown* outer = nullptr) : CUnknown("plain", outer) {}
    LONG Count() const { return RefCount; }
};

using ReferenceCounting = LiveObjectTest;

TEST_F(ReferenceCounting, NewObjectStartsAtZeroAndFirstQueryMakesOne) {
    LONG before = LiveObjectCount;
    auto* object = new PlainObject;
    EXPECT_EQ(before + 1, LiveObjectCount);
    EXPECT_EQ(0, object->Count());
    IUnknown* unknown = nullptr;
    ASSERT_EQ(S_OK, object->InnerQueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)));
    EXPECT_EQ(object->InnerUnknown(), unknown);
    EXPECT_EQ(1, object->Count());
    EXPECT_EQ(0u, unknown->Release());
    EXPECT_EQ(before, LiveObjectCount);
}

TEST_F(ReferenceCounting, UnknownInterfaceIsRefusedAndNullOutIsAPointerError) {
    auto* object = new PlainObject;
    object->InnerAddRef();
    void* out = reinterpret_cast<void*>(0x1234);
    EXPECT_EQ(E_NOINTERFACE, object->InnerQueryInterface(IID_IBaseFilter, &out));
    EXPECT_EQ(nullptr, out);
    EXPECT_EQ(E_POINTER, object->InnerQueryInterface(IID_IUnknown, nullptr));
    EXPECT_EQ(1, object->Count());
    object->InnerRelease();
}

TEST_F(ReferenceCounting, OnlyTheFinalReleaseReturnsZero) {
    auto* object = new PlainObject;
    EXPECT_EQ(1u, object->InnerAddRef());
    EXPECT_EQ(2u, object->InnerAddRef());
    EXPECT_EQ(1u, object->InnerRelease());
    EXPECT_EQ(0u, object->InnerRelease());
}

TEST_F(ReferenceCounting, DestructorThatTakesAndDropsAReferenceRunsOnce) {
    int runs = 0;
    TestFilter* filter = TestFilter::Create(0);
    filter->DestructorRuns = &runs;
    filter->ReenterOnDestroy = true;
    EXPECT_EQ(0u, filter->InnerRelease());
    EXPECT_EQ(1, runs);
}

TEST_F(ReferenceCounting, AggregatedObjectForwardsPublicCountsToItsOuter) {
    CountingUnknown outer;
    TestFilter* filter = TestFilter::Create(1, &outer);
    EXPECT_EQ(&outer, filter->GetOuterUnknown());
    IBaseFilter* base = nullptr;
    ASSERT_EQ(S_OK, filter->InnerQueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(&base)));
    EXPECT_EQ(1, outer.References);
    EXPECT_EQ(1, filter->CurrentRefCount());
    base->AddRef();
    base->Release();
    base->Release();
    EXPECT_EQ(0, outer.References);
    EXPECT_EQ(1, filter->CurrentRefCount());
    void* out = nullptr;
    EXPECT_EQ(E_NOINTERFACE, base->QueryInterface(IID_IBaseFilter, &out)) << "queries go to the outer object";
    filter->InnerRelease();
}

TEST_F(ReferenceCounting, PinReferencesKeepTheFilterAlive) {
    TestFilter* filter = TestFilter::Create(1);
    IPin* pin = nullptr;
    ASSERT_EQ(S_OK, filter->Pin(0)->InnerQueryInterface(IID_IPin, reinterpret_cast<void**>(&pin)));
    EXPECT_EQ(2, filter->CurrentRefCount());
    IQualityControl* quality = nullptr;
    ASSERT_EQ(S_OK, pin->QueryInterface(IID_IQualityControl, reinterpret_cast<void**>(&quality)));
    EXPECT_EQ(3, filter->CurrentRefCount());
    quality->Release();
    filter->InnerRelease();
    EXPECT_EQ(1, filter->CurrentRefCount());
    EXPECT_EQ(0u, pin->Release());
}

TEST_F(ReferenceCounting, HandOutRefusesNullOut) {
    auto* object = new PlainObject;
    EXPECT_EQ(E_POINTER, HandOutInterface(object->InnerUnknown(), nullptr));
    EXPECT_EQ(0, object->Count());
    object->InnerAddRef();
    object->InnerRelease();
}

}  // namespace
