#include "server/Registration.h"

#include "framework/BaseFilter.h"
#include "server/FactoryTemplate.h"
#include "server/FileTypeList.h"
#include "server/FileTypeRegistration.h"
#include "server/ModuleState.h"

#include <uuids.h>

#include <cstdio>
#include <cstring>
#include <memory>

namespace {

constexpr int TextChars = MAX_PATH;
constexpr HRESULT FileNotFound = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);

HRESULT FromWin32(LONG error) {
    return static_cast<HRESULT>(0x80070000u | static_cast<ULONG>(error));
}

struct KeyCloser {
    void operator()(HKEY key) const { RegCloseKey(key); }
};
using UniqueKey = std::unique_ptr<std::remove_pointer_t<HKEY>, KeyCloser>;

// Narrow text of a wide string in the system code page, as "%ls" formats it.
void ToNarrow(char (&target)[TextChars], const wchar_t* source) {
    std::snprintf(target, TextChars, "%ls", source);
}

void ClassKeyName(char (&target)[TextChars], const CLSID& classId) {
    wchar_t text[39];
    StringFromGUID2(classId, text, 39);
    std::snprintf(target, TextChars, "CLSID\\%ls", text);
}

// Deletes the tree and reports whether the key itself is gone.
bool RemoveTree(HKEY parent, const char* name) {
    HKEY opened = nullptr;
    if (RegOpenKeyExA(parent, name, 0, MAXIMUM_ALLOWED, &opened) != ERROR_SUCCESS) return true;
    {
        UniqueKey key(opened);
        DWORD index = 0;
        for (;;) {
            char child[TextChars];
            DWORD length = TextChars;
            if (RegEnumKeyExA(key.get(), index, child, &length, nullptr, nullptr, nullptr, nullptr) !=
                ERROR_SUCCESS) {
                break;
            }
            // A child that stays behind would be found at the same index
            // forever: step past it.
            if (!RemoveTree(key.get(), child)) ++index;
        }
    }
    return RegDeleteKeyA(parent, name) == ERROR_SUCCESS;
}

}  // namespace

HRESULT DeleteRegistryTree(HKEY parent, const char* name) {
    if (!name || !*name) return E_FAIL;
    RemoveTree(parent, name);
    return S_OK;
}

HRESULT WriteServerKeys(const CLSID& classId, const wchar_t* description, const wchar_t* modulePath,
                        const wchar_t* threadingModel, const wchar_t* serverKeyName) {
    char keyName[TextChars];
    ClassKeyName(keyName, classId);

    HKEY opened = nullptr;
    LONG error = RegCreateKeyA(HKEY_CLASSES_ROOT, keyName, &opened);
    if (error != ERROR_SUCCESS) return FromWin32(error);
    UniqueKey classKey(opened);

    char text[TextChars];
    ToNarrow(text, description);
    error = RegSetValueA(classKey.get(), nullptr, REG_SZ, text, static_cast<DWORD>(std::strlen(text) + 1));
    if (error != ERROR_SUCCESS) return FromWin32(error);

    ToNarrow(text, serverKeyName);
    opened = nullptr;
    error = RegCreateKeyA(classKey.get(), text, &opened);
    if (error != ERROR_SUCCESS) return FromWin32(error);
    UniqueKey serverKey(opened);

    ToNarrow(text, modulePath);
    error = RegSetValueA(serverKey.get(), nullptr, REG_SZ, text, static_cast<DWORD>(std::strlen(text) + 1));
    if (error != ERROR_SUCCESS) return FromWin32(error);

    ToNarrow(text, threadingModel);
    error = RegSetValueExA(serverKey.get(), "ThreadingModel", 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                           static_cast<DWORD>(std::strlen(text) + 1));
    if (error != ERROR_SUCCESS) return FromWin32(error & 0xFFFF);
    return S_OK;
}

HRESULT DeleteServerKeys(const CLSID& classId) {
    char keyName[TextChars];
    ClassKeyName(keyName, classId);
    DeleteRegistryTree(HKEY_CLASSES_ROOT, keyName);
    return S_OK;
}

HRESULT UpdateAllServerKeys(const wchar_t* modulePath, BOOL registering) {
    HRESULT result = S_OK;
    for (int i = 0; i < FactoryCount; ++i) {
        const FactoryTemplate& entry = FactoryTable[i];
        result = registering ? WriteServerKeys(*entry.TemplateClassId, entry.TemplateName, modulePath, L"Both",
                                               L"InprocServer32")
                             : DeleteServerKeys(*entry.TemplateClassId);
        if (FAILED(result)) break;
    }
    return result;
}

HRESULT RegisterThroughMapper2(const FilterSetupRecord* record, IFilterMapper2* mapper, BOOL registering) {
    if (!record) return S_FALSE;
    HRESULT result = mapper->UnregisterFilter(nullptr, nullptr, *record->ClassId);
    if (registering) {
        REGFILTER2 filter = {};
        filter.dwVersion = 1;
        filter.dwMerit = record->Merit;
        filter.cPins = record->PinCount;
        filter.rgPins = record->Pins;
        result = mapper->RegisterFilter(*record->ClassId, record->Name, nullptr, nullptr, nullptr, &filter);
    }
    return result == FileNotFound ? S_OK : result;
}

HRESULT UpdateModuleRegistration(BOOL registering) {
    char narrowPath[TextChars];
    if (GetModuleFileNameA(ModuleInstance, narrowPath, TextChars) == 0) return FromWin32(GetLastError());
    wchar_t path[TextChars];
    if (MultiByteToWideChar(CP_ACP, 0, narrowPath, -1, path, TextChars) == 0) path[0] = L'\0';

    HRESULT result = S_OK;
    if (registering) result = UpdateAllServerKeys(path, TRUE);
    if (SUCCEEDED(result)) {
        CoInitialize(nullptr);
        IFilterMapper2* mapper2 = nullptr;
        IFilterMapper* mapper = nullptr;
        result = CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                                  reinterpret_cast<void**>(&mapper2));
        if (FAILED(result)) {
            result = CoCreateInstance(CLSID_FilterMapper, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper,
                                      reinterpret_cast<void**>(&mapper));
        }
        if (SUCCEEDED(result)) {
            for (int i = 0; i < FactoryCount && SUCCEEDED(result); ++i) {
                const FilterSetupRecord* record = FactoryTable[i].SetupRecord;
                if (!record) continue;
                result = mapper2 ? RegisterThroughMapper2(record, mapper2, registering)
                                 : RegisterThroughMapper(record, mapper, registering);
            }
            if (mapper2) mapper2->Release();
            if (mapper) mapper->Release();
        }
        CoFreeUnusedLibraries();
        CoUninitialize();
    }
    if (SUCCEEDED(result) && !registering) result = UpdateAllServerKeys(path, FALSE);
    return result;
}

// Besides the class and the mapper entry, a plain registration makes our own
// recordings findable by their signature; extensions are the deployer's to
// name through DllInstall.
extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() {
    const HRESULT hr = UpdateModuleRegistration(TRUE);
    if (FAILED(hr)) return hr;
    return CFileTypeRegistration::AddPatterns({CFileTypeRegistration::SignaturePattern});
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() {
    const HRESULT fileTypes = CFileTypeRegistration::RemoveAll();
    const HRESULT hr = UpdateModuleRegistration(FALSE);
    return FAILED(hr) ? hr : fileTypes;
}

// regsvr32 /i:"LIST" (after DllRegisterServer, unless /n) and /u /i (before
// DllUnregisterServer). The whole list is checked before anything is written.
extern "C" HRESULT STDAPICALLTYPE DllInstall(BOOL install, LPCWSTR commandLine) {
    if (!install) return CFileTypeRegistration::RemoveAll();
    CFileTypeList list;
    HRESULT hr = list.Parse(commandLine);
    if (SUCCEEDED(hr)) hr = CFileTypeRegistration::AddPatterns(list.Patterns());
    if (SUCCEEDED(hr)) hr = CFileTypeRegistration::AddExtensions(list.Extensions());
    return hr;
}
