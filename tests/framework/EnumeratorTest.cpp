#include "LiveObjectTest.h"
#include "TestFilter.h"

#include <uuids.h>
#include <vfwmsgs.h>

namespace {

CMediaFormat Numbered(int n) {
    CMediaFormat type;
    type.PutMajorType(MEDIATYPE_Video);
    type.PutFormatType(FORMAT_VideoInfo);
    BYTE block[4] = {static_cast<BYTE>(n), 0, 0, 0};
    type.PutFormatBlock(block, sizeof(block));
    return type;
}

int NumberOf(const AM_MEDIA_TYPE* type) {
    return type->cbFormat == 4 ? type->pbFormat[0] : -1;
}

class Enumerators : public LiveObjectTest {
protected:
    void SetUp() override {
        LiveObjectTest::SetUp();
        Filter = TestFilter::Create(2);
        for (int i = 0; i < 3; ++i) {
            Filter->Pin(0)->Offered.push_back(Numbered(i));
        }
    }
    void TearDown() override {
        EXPECT_EQ(0u, Filter->InnerRelease()) << "an enumerator kept the filter alive";
        LiveObjectTest::TearDown();
    }
    IEnumPins* PinEnumerator() {
        IEnumPins* pins = nullptr;
        EXPECT_EQ(S_OK, Filter->EnumPins(&pins));
        return pins;
    }
    IEnumMediaTypes* TypeEnumerator() {
        IEnumMediaTypes* types = nullptr;
        EXPECT_EQ(S_OK, Filter->Pin(0)->EnumMediaTypes(&types));
        return types;
    }
    // Fetches one type and returns its number, -1 at the end.
    static int NextNumber(IEnumMediaTypes* types) {
        AM_MEDIA_TYPE* type = nullptr;
        ULONG fetched = 0;
        if (types->Next(1, &type, &fetched) != S_OK) {
            return -1;
        }
        int number = NumberOf(type);
        FreeMediaTypeBlock(type);
        return number;
    }
    static void ReleaseAll(IPin** pins, ULONG count) {
        for (ULONG i = 0; i < count; ++i) {
            pins[i]->Release();
        }
    }

    TestFilter* Filter = nullptr;
};

TEST_F(Enumerators, PinEnumeratorHandsOutEachPinOnce) {
    IEnumPins* pins = PinEnumerator();
    EXPECT_EQ(2, Filter->CurrentRefCount());
    IPin* got[3] = {};
    ULONG fetched = 9;
    EXPECT_EQ(S_FALSE, pins->Next(3, got, &fetched));
    ASSERT_EQ(2u, fetched);
    EXPECT_EQ(static_cast<IPin*>(Filter->Pin(0)), got[0]);
    EXPECT_EQ(static_cast<IPin*>(Filter->Pin(1)), got[1]);
    ReleaseAll(got, fetched);
    EXPECT_EQ(S_FALSE, pins->Next(1, got, &fetched));
    EXPECT_EQ(0u, fetched);
    EXPECT_EQ(E_INVALIDARG, pins->Next(2, got, nullptr));
    EXPECT_EQ(E_POINTER, pins->Next(1, nullptr, &fetched));
    EXPECT_EQ(S_OK, pins->Reset());
    EXPECT_EQ(S_OK, pins->Next(1, got, nullptr));
    got[0]->Release();
    EXPECT_EQ(0u, pins->Release());
}

TEST_F(Enumerators, PinEnumeratorResynchronisesAfterAVersionChange) {
    IEnumPins* pins = PinEnumerator();
    IPin* got[3] = {};
    ULONG fetched = 0;
    ASSERT_EQ(S_OK, pins->Next(1, got, &fetched));
    got[0]->Release();
    Filter->AddPin(L"late");
    Filter->BumpPinVersion();
    EXPECT_EQ(VFW_E_ENUM_OUT_OF_SYNC, pins->Skip(1));
    IEnumPins* clone = reinterpret_cast<IEnumPins*>(1);
    EXPECT_EQ(VFW_E_ENUM_OUT_OF_SYNC, pins->Clone(&clone));
    EXPECT_EQ(nullptr, clone);
    EXPECT_EQ(S_FALSE, pins->Next(3, got, &fetched));
    ASSERT_EQ(2u, fetched) << "the first pin was already handed out";
    EXPECT_EQ(static_cast<IPin*>(Filter->Pin(1)), got[0]);
    EXPECT_EQ(static_cast<IPin*>(Filter->Pin(2)), got[1]);
    ReleaseAll(got, fetched);
    EXPECT_EQ(S_OK, pins->Skip(0));
    pins->Release();
}

TEST_F(Enumerators, ShrunkPinListIsOutOfSyncAndGivesBackReferences) {
    IEnumPins* pins = PinEnumerator();
    Filter->DropLastPin();
    IPin* got[2] = {};
    ULONG fetched = 7;
    LONG before = Filter->CurrentRefCount();
    EXPECT_EQ(VFW_E_ENUM_OUT_OF_SYNC, pins->Next(2, got, &fetched));
    EXPECT_EQ(before, Filter->CurrentRefCount()) << "references on pins placed before the failure";
    pins->Release();
}

TEST_F(Enumerators, PinSkipPastTheEndKeepsThePosition) {
    IEnumPins* pins = PinEnumerator();
    EXPECT_EQ(S_FALSE, pins->Skip(3));
    EXPECT_EQ(S_OK, pins->Skip(1));
    IPin* got = nullptr;
    ASSERT_EQ(S_OK, pins->Next(1, &got, nullptr));
    EXPECT_EQ(static_cast<IPin*>(Filter->Pin(1)), got);
    got->Release();
    pins->Release();
}

TEST_F(Enumerators, PinClonesContinueIndependently) {
    IEnumPins* pins = PinEnumerator();
    IPin* got = nullptr;
    ASSERT_EQ(S_OK, pins->Next(1, &got, nullptr));
    got->Release();
    IEnumPins* clone = nullptr;
    ASSERT_EQ(S_OK, pins->Clone(&clone));
    ASSERT_EQ(S_OK, clone->Next(1, &got, nullptr));
    EXPECT_EQ(static_cast<IPin*>(Filter->Pin(1)), got);
    got->Release();
    EXPECT_EQ(S_FALSE, clone->Next(1, &got, nullptr));
    ASSERT_EQ(S_OK, pins->Next(1, &got, nullptr)) << "the source did not move with its clone";
    EXPECT_EQ(static_cast<IPin*>(Filter->Pin(1)), got);
    got->Release();
    IUnknown* unknown = nullptr;
    ASSERT_EQ(S_OK, clone->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)));
    unknown->Release();
    void* none = nullptr;
    EXPECT_EQ(E_NOINTERFACE, clone->QueryInterface(IID_IEnumMediaTypes, &none));
    clone->Release();
    pins->Release();
}

TEST_F(Enumerators, TypeEnumeratorHandsOutOwnedRecords) {
    IEnumMediaTypes* types = TypeEnumerator();
    AM_MEDIA_TYPE* got[4] = {};
    ULONG fetched = 0;
    EXPECT_EQ(S_FALSE, types->Next(4, got, &fetched));
    ASSERT_EQ(3u, fetched);
    for (ULONG i = 0; i < fetched; ++i) {
        EXPECT_EQ(static_cast<int>(i), NumberOf(got[i]));
        EXPECT_NE(Filter->Pin(0)->Offered[i].pbFormat, got[i]->pbFormat);
        FreeMediaTypeBlock(got[i]);
    }
    EXPECT_EQ(E_INVALIDARG, types->Next(2, got, nullptr));
    types->Release();
}

TEST_F(Enumerators, TypeEnumeratorRefusesAfterAVersionChangeUntilReset) {
    IEnumMediaTypes* types = TypeEnumerator();
    Filter->Pin(0)->BumpTypeListVersion();
    AM_MEDIA_TYPE* got[2] = {};
    EXPECT_EQ(VFW_E_ENUM_OUT_OF_SYNC, types->Next(2, got, nullptr)) << "version is checked before arguments";
    EXPECT_EQ(VFW_E_ENUM_OUT_OF_SYNC, types->Skip(1));
    EXPECT_EQ(S_OK, types->Skip(0));
    IEnumMediaTypes* clone = reinterpret_cast<IEnumMediaTypes*>(1);
    EXPECT_EQ(VFW_E_ENUM_OUT_OF_SYNC, types->Clone(&clone));
    EXPECT_EQ(nullptr, clone);
    EXPECT_EQ(S_OK, types->Reset());
    EXPECT_EQ(0, NextNumber(types));
    types->Release();
}

TEST_F(Enumerators, TypePositionMovesPastTheEnd) {
    IEnumMediaTypes* types = TypeEnumerator();
    EXPECT_EQ(S_FALSE, types->Skip(5));
    EXPECT_EQ(-1, NextNumber(types));
    EXPECT_EQ(S_OK, types->Reset());
    EXPECT_EQ(S_OK, types->Skip(2));
    EXPECT_EQ(2, NextNumber(types));
    EXPECT_EQ(-1, NextNumber(types));
    EXPECT_EQ(-1, NextNumber(types));
    Filter->Pin(0)->Offered.push_back(Numbered(3));
    Filter->Pin(0)->Offered.push_back(Numbered(4));
    Filter->Pin(0)->Offered.push_back(Numbered(5));
    EXPECT_EQ(5, NextNumber(types)) << "each call after the end advanced the position";
    EXPECT_EQ(S_OK, types->Reset());
    EXPECT_EQ(0, NextNumber(types));
    types->Release();
}

TEST_F(Enumerators, TypeClonesContinueIndependently) {
    IEnumMediaTypes* types = TypeEnumerator();
    EXPECT_EQ(0, NextNumber(types));
    IEnumMediaTypes* clone = nullptr;
    ASSERT_EQ(S_OK, types->Clone(&clone));
    EXPECT_EQ(1, NextNumber(clone));
    EXPECT_EQ(2, NextNumber(clone));
    EXPECT_EQ(1, NextNumber(types));
    EXPECT_EQ(E_POINTER, clone->Clone(nullptr));
    clone->Release();
    types->Release();
}

}  // namespace
