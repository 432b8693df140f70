// Self-registration in the test prefix, through regsvr32 as installers do and
// through the exports: the COM keys, the filter mapper's entry and their
// removal. The module is left registered at the end, as the other tests of
// the project expect.
#include "ModuleUnderTest.h"

#include "server/KXVDSrcClsid.h"

#include <dshow.h>
#include <gtest/gtest.h>
#include <uuids.h>
#include <wrl/client.h>

#include <map>
#include <string>

using Microsoft::WRL::ComPtr;

namespace {

std::wstring ClassKeyName() {
    wchar_t text[39];
    StringFromGUID2(CLSID_KXVDSource, text, 39);
    return std::wstring(L"CLSID\\") + text;
}

// Every value below HKCR\key, by "subkey path|value name".
void DumpTree(HKEY parent, const std::wstring& key, const std::wstring& prefix,
              std::map<std::wstring, std::wstring>* values) {
    HKEY opened = nullptr;
    if (RegOpenKeyExW(parent, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) return;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD nameLength = 256;
        BYTE data[2048];
        DWORD dataLength = sizeof(data);
        DWORD type = 0;
        if (RegEnumValueW(opened, i, name, &nameLength, nullptr, &type, data, &dataLength) != ERROR_SUCCESS) break;
        (*values)[prefix + L"|" + name] = std::to_wstring(type) + L":" +
                                          std::wstring(reinterpret_cast<wchar_t*>(data), dataLength / sizeof(wchar_t));
    }
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD nameLength = 256;
        if (RegEnumKeyExW(opened, i, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        DumpTree(opened, name, prefix + L"\\" + name, values);
    }
    RegCloseKey(opened);
}

std::map<std::wstring, std::wstring> RegistrationContent() {
    std::map<std::wstring, std::wstring> values;
    DumpTree(HKEY_CLASSES_ROOT, ClassKeyName(), L"class", &values);
    wchar_t text[39];
    StringFromGUID2(CLSID_KXVDSource, text, 39);
    // Where the platform's mapper keeps the filters of its default category.
    DumpTree(HKEY_CLASSES_ROOT,
             std::wstring(L"CLSID\\{083863F1-70DE-11D0-BD40-00A0C911CE86}\\Instance\\") + text, L"mapper",
             &values);
    return values;
}

bool KeyExists(const std::wstring& name) {
    HKEY opened = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, name.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) return false;
    RegCloseKey(opened);
    return true;
}

std::wstring StringValue(const std::wstring& key, const wchar_t* name) {
    wchar_t data[1024] = {};
    DWORD length = sizeof(data);
    if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), name, RRF_RT_REG_SZ, nullptr, data, &length) != ERROR_SUCCESS) {
        return L"<missing>";
    }
    return data;
}

// The merit under which the mapper lists the filter for a YUY2 video
// output, read from its registration data; 0 when it is not listed.
DWORD ListedMerit() {
    ComPtr<IFilterMapper2> mapper;
    EXPECT_EQ(S_OK, CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&mapper)));
    if (!mapper) return 0;
    const GUID types[2] = {MEDIATYPE_Video, MEDIASUBTYPE_YUY2};
    ComPtr<IEnumMoniker> found;
    if (mapper->EnumMatchingFilters(&found, 0, TRUE, MERIT_DO_NOT_USE, FALSE, 0, nullptr, nullptr, nullptr, FALSE,
                                    TRUE, 1, types, nullptr, nullptr) != S_OK) {
        return 0;
    }
    ComPtr<IMoniker> moniker;
    while (found->Next(1, &moniker, nullptr) == S_OK) {
        ComPtr<IPropertyBag> bag;
        if (SUCCEEDED(moniker->BindToStorage(nullptr, nullptr, IID_PPV_ARGS(&bag)))) {
            VARIANT value;
            VariantInit(&value);
            if (SUCCEEDED(bag->Read(L"CLSID", &value, nullptr)) && value.vt == VT_BSTR) {
                CLSID classId = {};
                CLSIDFromString(value.bstrVal, &classId);
                VariantClear(&value);
                // The data starts with its version and the merit.
                if (IsEqualCLSID(classId, CLSID_KXVDSource) && SUCCEEDED(bag->Read(L"FilterData", &value, nullptr)) &&
                    value.vt == (VT_ARRAY | VT_UI1) && value.parray->rgsabound[0].cElements >= 8) {
                    const DWORD merit = static_cast<const DWORD*>(value.parray->pvData)[1];
                    VariantClear(&value);
                    return merit;
                }
            }
            VariantClear(&value);
        }
        moniker.Reset();
    }
    return 0;
}

// Runs regsvr32 silently on the module; its exit code (0 on success).
DWORD RunRegsvr32(bool unregister) {
    std::wstring command = L"regsvr32.exe /s ";
    if (unregister) command += L"/u ";
    command += L"\"" + CModuleUnderTest::Path() + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        return GetLastError() | 0x10000000;
    }
    DWORD code = 0x20000000;
    if (WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0) GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
}

class RegistrationTest : public ::testing::Test {
protected:
    void SetUp() override { CoInitializeEx(nullptr, COINIT_MULTITHREADED); }
    void TearDown() override {
        EXPECT_EQ(0u, RunRegsvr32(false)) << "the module must stay registered for the other tests";
        CoUninitialize();
    }
};

}  // namespace

TEST_F(RegistrationTest, Regsvr32WritesTheClassKeysAndTheMapperEntry) {
    ASSERT_EQ(0u, RunRegsvr32(true));
    ASSERT_FALSE(KeyExists(ClassKeyName()));
    ASSERT_EQ(0u, RunRegsvr32(false));

    EXPECT_EQ(L"KXVD Source File", StringValue(ClassKeyName(), nullptr));
    const std::wstring server = ClassKeyName() + L"\\InprocServer32";
    EXPECT_EQ(0, _wcsicmp(CModuleUnderTest::Path().c_str(), StringValue(server, nullptr).c_str()))
        << StringValue(server, nullptr).c_str();
    EXPECT_EQ(L"Both", StringValue(server, L"ThreadingModel"));

    EXPECT_EQ(static_cast<DWORD>(MERIT_PREFERRED), ListedMerit());
}

TEST_F(RegistrationTest, UnregisteringRemovesTheWholeTreeAndTheMapperEntry) {
    ASSERT_EQ(0u, RunRegsvr32(false));
    HKEY added = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyW(HKEY_CLASSES_ROOT, (ClassKeyName() + L"\\Added\\Deeper").c_str(), &added));
    RegSetValueW(added, nullptr, REG_SZ, L"someone else's", 15 * sizeof(wchar_t));
    RegCloseKey(added);

    ASSERT_EQ(0u, RunRegsvr32(true));
    EXPECT_FALSE(KeyExists(ClassKeyName()));
    EXPECT_EQ(0u, ListedMerit());
    EXPECT_TRUE(RegistrationContent().empty());

    EXPECT_EQ(0u, RunRegsvr32(true)) << "unregistering twice is no error";
}

TEST_F(RegistrationTest, RegisteringTwiceGivesTheSameContent) {
    CModuleUnderTest module;
    ASSERT_NE(nullptr, module.RegisterServer);
    ASSERT_EQ(S_OK, module.RegisterServer());
    const auto first = RegistrationContent();
    ASSERT_EQ(S_OK, module.RegisterServer());
    const auto second = RegistrationContent();
    EXPECT_FALSE(first.empty());
    EXPECT_EQ(first, second);
    EXPECT_EQ(S_OK, module.UnregisterServer());
    EXPECT_FALSE(KeyExists(ClassKeyName()));
}
