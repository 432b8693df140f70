// Self-registration in the test prefix, through regsvr32 as installers do and
// through the exports: the COM keys, the filter mapper's entry and their
// removal. The module is left registered at the end, as the other tests of
// the project expect.
#include "ModuleUnderTest.h"

#include "common/KXVDSrcClsid.h"

#include <dshow.h>
#include <gtest/gtest.h>
#include <uuids.h>
#include <wrl/client.h>

#include <map>
#include <string>
#include <vector>

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

bool KeyExists(const std::wstring& name, HKEY root = HKEY_CLASSES_ROOT) {
    HKEY opened = nullptr;
    if (RegOpenKeyExW(root, name.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) return false;
    RegCloseKey(opened);
    return true;
}

std::wstring StringValue(const std::wstring& key, const wchar_t* name, HKEY root = HKEY_CLASSES_ROOT) {
    wchar_t data[1024] = {};
    DWORD length = sizeof(data);
    if (RegGetValueW(root, key.c_str(), name, RRF_RT_REG_SZ, nullptr, data, &length) != ERROR_SUCCESS) {
        return L"<missing>";
    }
    return data;
}

// A DWORD value; -1 when missing.
long long NumberValue(HKEY root, const std::wstring& key, const wchar_t* name) {
    DWORD data = 0;
    DWORD length = sizeof(data);
    if (RegGetValueW(root, key.c_str(), name, RRF_RT_REG_DWORD, nullptr, &data, &length) != ERROR_SUCCESS) return -1;
    return data;
}

std::wstring ClassText() {
    wchar_t text[39];
    StringFromGUID2(CLSID_KXVDSource, text, 39);
    return text;
}

const wchar_t PlayerKeys[] = L"Software\\Microsoft\\Multimedia\\WMPlayer\\Extensions\\";

std::wstring ExtensionKey(const wchar_t* extension) {
    return std::wstring(L"Media Type\\Extensions\\") + extension;
}

std::wstring StreamKey() {
    wchar_t stream[39];
    StringFromGUID2(MEDIATYPE_Stream, stream, 39);
    return std::wstring(L"Media Type\\") + stream;
}

// A pattern's key: its subtype is the name-based (version 5) id of the
// pattern's text in the namespace of the earlier versions' subtype, the same
// in every version (these were computed apart, with Python's uuid.uuid5).
std::wstring PatternKey(const wchar_t* subtype) {
    return StreamKey() + L"\\" + subtype;
}
const wchar_t SignatureSubtype[] = L"{057E27B0-A74D-55EA-83DD-731086DC5628}";  // 0,4,,4B585652
const wchar_t AbcdSubtype[] = L"{8ABC3A4E-7F5F-594E-A809-1CA819BD3DD6}";       // 8,2,,ABCD

std::wstring EarlierPatternKey() {
    wchar_t subtype[39];
    StringFromGUID2(MEDIASUBTYPE_KXVDRecording, subtype, 39);
    return StreamKey() + L"\\" + subtype;
}

// Everything the file-type registration may touch, by "subkey path|value".
std::map<std::wstring, std::wstring> FileTypeContent() {
    std::map<std::wstring, std::wstring> values;
    DumpTree(HKEY_CLASSES_ROOT, L"Media Type", L"types", &values);
    DumpTree(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Multimedia\\WMPlayer\\Extensions", L"player", &values);
    return values;
}

// The values among them that name our class, as "path|value".
std::vector<std::wstring> NamingOurClass() {
    std::vector<std::wstring> found;
    for (const auto& entry : FileTypeContent()) {
        if (entry.second.find(ClassText()) != std::wstring::npos) found.push_back(entry.first);
    }
    return found;
}

// Someone else's key with a value, made before the test takes it over.
void WriteForeignKey(HKEY root, const std::wstring& key, const wchar_t* name, const wchar_t* text) {
    HKEY created = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyW(root, key.c_str(), &created));
    RegSetValueExW(created, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                   static_cast<DWORD>((wcslen(text) + 1) * sizeof(wchar_t)));
    RegCloseKey(created);
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

// Runs regsvr32 silently on the module, with further switches (such as
// /i:"LIST" or /n); its exit code (0 on success).
DWORD RunRegsvr32(bool unregister, const std::wstring& switches = std::wstring()) {
    std::wstring command = L"regsvr32.exe /s ";
    if (unregister) command += L"/u ";
    if (!switches.empty()) command += switches + L" ";
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
        // No file type of a test stays behind, the module itself does.
        EXPECT_EQ(0u, RunRegsvr32(true));
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

    // Our recordings are found by their signature, nothing else is named.
    EXPECT_EQ(ClassText(), StringValue(PatternKey(SignatureSubtype), L"Source Filter"));
    EXPECT_EQ(L"0,4,,4B585652", StringValue(PatternKey(SignatureSubtype), L"0"));
    EXPECT_EQ(L"<missing>", StringValue(PatternKey(SignatureSubtype), L"1"));
    EXPECT_EQ(1u, NamingOurClass().size()) << "only the pattern key names our class";
}

TEST_F(RegistrationTest, InstallListWritesExtensionsPlayerKeysAndPatternsOnce) {
    const std::wstring list = L"/i:\".kxtesta; .kxtestb;8,2,,abcd;0,4,,4B585652\"";
    ASSERT_EQ(0u, RunRegsvr32(false, list));
    const auto first = FileTypeContent();
    ASSERT_EQ(0u, RunRegsvr32(false, list));
    EXPECT_EQ(first, FileTypeContent()) << "registering twice changed the keys";

    for (const wchar_t* extension : {L".kxtesta", L".kxtestb"}) {
        EXPECT_EQ(ClassText(), StringValue(ExtensionKey(extension), L"Source Filter")) << extension;
        const std::wstring player = std::wstring(PlayerKeys) + extension;
        EXPECT_EQ(7, NumberValue(HKEY_LOCAL_MACHINE, player, L"Runtime")) << extension;
        EXPECT_EQ(15, NumberValue(HKEY_LOCAL_MACHINE, player, L"Permissions")) << extension;
    }
    // One pattern a key, each with our class beside it.
    EXPECT_EQ(L"0,4,,4B585652", StringValue(PatternKey(SignatureSubtype), L"0"));
    EXPECT_EQ(L"8,2,,ABCD", StringValue(PatternKey(AbcdSubtype), L"0"));
    for (const wchar_t* subtype : {SignatureSubtype, AbcdSubtype}) {
        EXPECT_EQ(L"<missing>", StringValue(PatternKey(subtype), L"1")) << subtype;
        EXPECT_EQ(ClassText(), StringValue(PatternKey(subtype), L"Source Filter")) << subtype;
    }

    // Removal takes every one of them, whatever list wrote them.
    ASSERT_EQ(0u, RunRegsvr32(true));
    EXPECT_TRUE(NamingOurClass().empty()) << NamingOurClass().front().c_str();
    EXPECT_FALSE(KeyExists(ExtensionKey(L".kxtesta")));
    EXPECT_FALSE(KeyExists(std::wstring(PlayerKeys) + L".kxtestb", HKEY_LOCAL_MACHINE));
    EXPECT_FALSE(KeyExists(PatternKey(SignatureSubtype)));
    EXPECT_FALSE(KeyExists(PatternKey(AbcdSubtype)));
}

// An earlier version kept every pattern in one key of a fixed subtype; an
// upgrade that registers over it takes it away (Wine's graph manager would
// still stop at its first value), and so does removal.
TEST_F(RegistrationTest, TheEarlierVersionsPatternKeyGoesAndOthersStay) {
    const wchar_t other[] = L"{11111111-2222-3333-4444-555555555555}";
    const std::wstring foreign = StreamKey() + L"\\{22222222-3333-4444-5555-666666666666}";
    WriteForeignKey(HKEY_CLASSES_ROOT, foreign, L"Source Filter", other);
    WriteForeignKey(HKEY_CLASSES_ROOT, foreign, L"0", L"0,2,,FFFF");
    for (int round = 0; round < 2; ++round) {
        WriteForeignKey(HKEY_CLASSES_ROOT, EarlierPatternKey(), L"Source Filter", ClassText().c_str());
        WriteForeignKey(HKEY_CLASSES_ROOT, EarlierPatternKey(), L"0", L"0,4,,4B585652");
        WriteForeignKey(HKEY_CLASSES_ROOT, EarlierPatternKey(), L"1", L"0,6,,77696474683D");
        ASSERT_EQ(0u, round == 0 ? RunRegsvr32(false) : RunRegsvr32(true));
        EXPECT_FALSE(KeyExists(EarlierPatternKey())) << (round == 0 ? "registering" : "unregistering");
        EXPECT_EQ(other, StringValue(foreign, L"Source Filter")) << "another filter's pattern key was touched";
    }
    RegDeleteTreeW(HKEY_CLASSES_ROOT, foreign.c_str());
}

TEST_F(RegistrationTest, TakenOverExtensionGoesBackToItsOwner) {
    const wchar_t owner[] = L"{11111111-2222-3333-4444-555555555555}";
    const std::wstring extension = ExtensionKey(L".kxowned");
    const std::wstring player = std::wstring(PlayerKeys) + L".kxowned";
    WriteForeignKey(HKEY_CLASSES_ROOT, extension, L"Source Filter", owner);
    WriteForeignKey(HKEY_CLASSES_ROOT, extension, L"Media Type", L"theirs");
    WriteForeignKey(HKEY_LOCAL_MACHINE, player, L"Runtime", L"theirs");

    CModuleUnderTest module;
    ASSERT_NE(nullptr, module.Install);
    ASSERT_EQ(S_OK, module.Install(TRUE, L".kxowned"));
    ASSERT_EQ(S_OK, module.Install(TRUE, L".kxowned")) << "a second run must keep the real owner";
    EXPECT_EQ(ClassText(), StringValue(extension, L"Source Filter"));
    EXPECT_EQ(7, NumberValue(HKEY_LOCAL_MACHINE, player, L"Runtime"));

    ASSERT_EQ(S_OK, module.Install(FALSE, L"ignored; not parsed"));
    EXPECT_EQ(owner, StringValue(extension, L"Source Filter"));
    EXPECT_EQ(L"theirs", StringValue(extension, L"Media Type"));
    EXPECT_EQ(L"theirs", StringValue(player, L"Runtime", HKEY_LOCAL_MACHINE));
    EXPECT_EQ(-1, NumberValue(HKEY_LOCAL_MACHINE, player, L"Permissions"));
    std::map<std::wstring, std::wstring> left;
    DumpTree(HKEY_CLASSES_ROOT, extension, L"", &left);
    DumpTree(HKEY_LOCAL_MACHINE, player, L"", &left);
    EXPECT_EQ(3u, left.size()) << "values of ours stayed behind";
    RegDeleteTreeW(HKEY_CLASSES_ROOT, extension.c_str());
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, player.c_str());
}

TEST_F(RegistrationTest, BadListItemIsRefusedAndWritesNothing) {
    ASSERT_EQ(0u, RunRegsvr32(true));
    EXPECT_NE(0u, RunRegsvr32(false, L"/n /i:\".kxgood;0,4,,4B5856\""));
    EXPECT_TRUE(NamingOurClass().empty());
    EXPECT_FALSE(KeyExists(ExtensionKey(L".kxgood")));

    CModuleUnderTest module;
    ASSERT_NE(nullptr, module.Install);
    EXPECT_EQ(E_INVALIDARG, module.Install(TRUE, L".kxgood;kxv"));
    EXPECT_TRUE(NamingOurClass().empty());
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

// The Explorer handlers of a named extension, in the module's own view:
// written for the extensions named and no other, taken over from another
// product and given back whole, and gone with the module's removal.
TEST_F(RegistrationTest, ShellHandlerKeysPerNamedExtensionAndGivenBack) {
    const std::wstring thumbnailKey = L"\\ShellEx\\{E357FCCD-A995-4576-B01F-234630154E96}";
    const std::wstring handlers = L"Software\\Microsoft\\Windows\\CurrentVersion\\PropertySystem\\PropertyHandlers\\";
    const wchar_t theirs[] = L"{11111111-2222-3333-4444-555555555555}";
    WriteForeignKey(HKEY_CLASSES_ROOT, std::wstring(L".kxshellowned") + thumbnailKey, nullptr, theirs);
    WriteForeignKey(HKEY_LOCAL_MACHINE, handlers + L".kxshellowned", nullptr, theirs);
    WriteForeignKey(HKEY_CLASSES_ROOT, L".kxshellowned", L"PerceivedType", L"text");
    WriteForeignKey(HKEY_CLASSES_ROOT, L"SystemFileAssociations\\.kxshellowned", L"InfoTip", L"prop:System.Size");
    auto owned = [&] {
        std::map<std::wstring, std::wstring> values;
        DumpTree(HKEY_CLASSES_ROOT, L".kxshellowned", L"ext", &values);
        DumpTree(HKEY_CLASSES_ROOT, L"SystemFileAssociations\\.kxshellowned", L"assoc", &values);
        DumpTree(HKEY_LOCAL_MACHINE, handlers + L".kxshellowned", L"handler", &values);
        return values;
    };
    const auto before = owned();

    ASSERT_EQ(0u, RunRegsvr32(false, L"/i:\".kxshella;.kxshellowned\""));
    ASSERT_EQ(0u, RunRegsvr32(false, L"/i:\".kxshella;.kxshellowned\"")) << "a second run must keep the real owner";
    wchar_t thumbnail[39], properties[39];
    StringFromGUID2(CLSID_KXVDThumbnailProvider, thumbnail, 39);
    StringFromGUID2(CLSID_KXVDPropertyHandler, properties, 39);
    for (const std::wstring extension : {L".kxshella", L".kxshellowned"}) {
        EXPECT_EQ(thumbnail, StringValue(extension + thumbnailKey, nullptr)) << extension;
        EXPECT_EQ(properties, StringValue(handlers + extension, nullptr, HKEY_LOCAL_MACHINE)) << extension;
        EXPECT_EQ(L"video", StringValue(extension, L"PerceivedType")) << extension;
        for (const wchar_t* list : {L"PreviewDetails", L"FullDetails", L"InfoTip"}) {
            EXPECT_NE(std::wstring::npos,
                      StringValue(L"SystemFileAssociations\\" + extension, list).find(L"System.Media.Duration"))
                << extension << " " << list;
        }
    }
    EXPECT_EQ(1, NumberValue(HKEY_CLASSES_ROOT, std::wstring(L"CLSID\\") + thumbnail, L"DisableProcessIsolation"));
    EXPECT_FALSE(KeyExists(L".kxshellb")) << "a key for an extension nobody named";
#ifdef _WIN64
    // The 32-bit view's handler list is the 32-bit module's.
    HKEY other = nullptr;
    EXPECT_NE(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, (handlers + L".kxshella").c_str(), 0,
                                           KEY_READ | KEY_WOW64_32KEY, &other));
    if (other) RegCloseKey(other);
#endif

    ASSERT_EQ(0u, RunRegsvr32(true));
    EXPECT_EQ(before, owned()) << "the other product's keys did not come back as they were";
    EXPECT_FALSE(KeyExists(L".kxshella"));
    EXPECT_FALSE(KeyExists(L"SystemFileAssociations\\.kxshella"));
    EXPECT_FALSE(KeyExists(handlers + L".kxshella", HKEY_LOCAL_MACHINE));
    RegDeleteTreeW(HKEY_CLASSES_ROOT, L".kxshellowned");
    RegDeleteTreeW(HKEY_CLASSES_ROOT, L"SystemFileAssociations\\.kxshellowned");
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, (handlers + L".kxshellowned").c_str());
}
