// The module's exports and its class factory, called as COM calls them.
#include "ModuleUnderTest.h"

#include "common/KXVDSrcClsid.h"

#include <dshow.h>
#include <gtest/gtest.h>
#include <wrl/client.h>

using Microsoft::WRL::ComPtr;

namespace {

// {0B3B6E4E-7E0A-4C55-9E3E-2E4A7A1D0001}: no class of this module.
const GUID UnknownClass = {0x0b3b6e4e, 0x7e0a, 0x4c55, {0x9e, 0x3e, 0x2e, 0x4a, 0x7a, 0x1d, 0x00, 0x01}};

// An outer object that only counts the references it is given.
class CCountingOuter : public IUnknown {
public:
    STDMETHODIMP QueryInterface(REFIID, void** out) override {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++References); }
    STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(--References); }
    long References = 1;
};

class ClassFactoryTest : public ::testing::Test {
protected:
    void SetUp() override {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        ASSERT_NE(nullptr, Server.Module) << "KXVDSrc.ax did not load";
        ASSERT_NE(nullptr, Server.GetClassObject);
        ASSERT_NE(nullptr, Server.CanUnloadNow);
    }
    void TearDown() override {
        EXPECT_EQ(S_OK, Server.CanUnloadNow()) << "an object of the module outlived its test";
        CoUninitialize();
    }
    ComPtr<IClassFactory> Factory() {
        ComPtr<IClassFactory> factory;
        EXPECT_EQ(S_OK, Server.GetClassObject(CLSID_KXVDSource, IID_IClassFactory,
                                              reinterpret_cast<void**>(factory.GetAddressOf())));
        return factory;
    }
    CModuleUnderTest Server;
};

}  // namespace

TEST_F(ClassFactoryTest, ExportsTheFiveEntryPointsByNameAtOrdinalsOneToFive) {
    const char* names[] = {"DllCanUnloadNow", "DllGetClassObject", "DllRegisterServer", "DllUnregisterServer",
                           "DllInstall"};
    for (int ordinal = 1; ordinal <= 5; ++ordinal) {
        FARPROC byName = GetProcAddress(Server.Module, names[ordinal - 1]);
        ASSERT_NE(nullptr, byName) << names[ordinal - 1];
        EXPECT_EQ(byName, GetProcAddress(Server.Module, MAKEINTRESOURCEA(ordinal))) << names[ordinal - 1];
    }
}

TEST_F(ClassFactoryTest, CarriesAVersionResourceNamingTheModule) {
    const std::wstring path = CModuleUnderTest::Path();
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::wstring data(size, L'\0');
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, &data[0]));
    wchar_t* name = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(&data[0], L"\\StringFileInfo\\040904B0\\OriginalFilename",
                               reinterpret_cast<void**>(&name), &length));
    EXPECT_STREQ(KXVDSourceModuleName, name);
}

TEST_F(ClassFactoryTest, HandsOutOneFactoryThatKeepsTheModuleLoaded) {
    EXPECT_EQ(S_OK, Server.CanUnloadNow());
    IClassFactory* factory = nullptr;
    ASSERT_EQ(S_OK, Server.GetClassObject(CLSID_KXVDSource, IID_IClassFactory, reinterpret_cast<void**>(&factory)));
    EXPECT_EQ(S_FALSE, Server.CanUnloadNow());
    IUnknown* unknown = nullptr;
    ASSERT_EQ(S_OK, factory->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)));
    EXPECT_EQ(static_cast<IUnknown*>(factory), unknown);
    EXPECT_EQ(1u, unknown->Release());
    EXPECT_EQ(0u, factory->Release());
    EXPECT_EQ(S_OK, Server.CanUnloadNow());

    IUnknown* asUnknown = nullptr;
    ASSERT_EQ(S_OK, Server.GetClassObject(CLSID_KXVDSource, IID_IUnknown, reinterpret_cast<void**>(&asUnknown)));
    EXPECT_EQ(0u, asUnknown->Release());
}

TEST_F(ClassFactoryTest, RefusesOtherInterfacesAndClasses) {
    void* out = reinterpret_cast<void*>(0x1234);
    EXPECT_EQ(E_NOINTERFACE, Server.GetClassObject(CLSID_KXVDSource, IID_IDispatch, &out));
    EXPECT_EQ(reinterpret_cast<void*>(0x1234), out) << "the out pointer must not be written";
    EXPECT_EQ(E_NOINTERFACE, Server.GetClassObject(UnknownClass, IID_IDispatch, &out));
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, Server.GetClassObject(UnknownClass, IID_IUnknown, &out));
    EXPECT_EQ(E_POINTER, Server.GetClassObject(CLSID_KXVDSource, IID_IClassFactory, nullptr));
}

TEST_F(ClassFactoryTest, FactoryQueryInterfaceFollowsTheRules) {
    ComPtr<IClassFactory> factory = Factory();
    EXPECT_EQ(E_POINTER, factory->QueryInterface(IID_IClassFactory, nullptr));
    void* out = reinterpret_cast<void*>(0x1234);
    EXPECT_EQ(E_NOINTERFACE, factory->QueryInterface(IID_IDispatch, &out));
    EXPECT_EQ(nullptr, out);
}

TEST_F(ClassFactoryTest, LockServerHoldsTheModule) {
    ComPtr<IClassFactory> factory = Factory();
    EXPECT_EQ(S_OK, factory->LockServer(TRUE));
    factory.Reset();
    EXPECT_EQ(S_FALSE, Server.CanUnloadNow());
    Factory()->LockServer(FALSE);
    EXPECT_EQ(S_OK, Server.CanUnloadNow());
}

TEST_F(ClassFactoryTest, CreatesAFilterWithItsClassId) {
    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(S_OK, Factory()->CreateInstance(nullptr, IID_IBaseFilter, reinterpret_cast<void**>(filter.GetAddressOf())));
    EXPECT_EQ(S_FALSE, Server.CanUnloadNow());
    CLSID classId = {};
    ASSERT_EQ(S_OK, filter->GetClassID(&classId));
    EXPECT_TRUE(IsEqualCLSID(CLSID_KXVDSource, classId));
    ComPtr<IFileSourceFilter> fileSource;
    EXPECT_EQ(S_OK, filter.As(&fileSource));
    ComPtr<IMediaSeeking> seeking;
    EXPECT_EQ(E_NOINTERFACE, filter.As(&seeking)) << "seeking belongs to the pins";
    fileSource.Reset();
    EXPECT_EQ(0u, filter.Detach()->Release());
}

TEST_F(ClassFactoryTest, CreateInstanceRefusalsLeaveNothingAlive) {
    ComPtr<IClassFactory> factory = Factory();
    EXPECT_EQ(E_POINTER, factory->CreateInstance(nullptr, IID_IBaseFilter, nullptr));
    CCountingOuter outer;
    void* out = nullptr;
    EXPECT_EQ(E_NOINTERFACE, factory->CreateInstance(&outer, IID_IBaseFilter, &out));
    EXPECT_EQ(E_NOINTERFACE, factory->CreateInstance(nullptr, IID_IDispatch, &out));
    factory.Reset();
    EXPECT_EQ(S_OK, Server.CanUnloadNow());
}

TEST_F(ClassFactoryTest, AggregatedFilterPassesReferencesToItsOuterObject) {
    CCountingOuter outer;
    IUnknown* inner = nullptr;
    ASSERT_EQ(S_OK, Factory()->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&inner)));
    IBaseFilter* filter = nullptr;
    ASSERT_EQ(S_OK, inner->QueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(&filter)));
    EXPECT_EQ(2, outer.References) << "the hand-out lands on the outer object";
    filter->Release();
    EXPECT_EQ(1, outer.References);
    EXPECT_EQ(0u, inner->Release());
}
