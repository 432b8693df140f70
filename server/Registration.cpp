#include "server/Registration.h"

#include "server/RegistryKey.h"

#include "framework/BaseFilter.h"
#include "common/WidePath.h"
#include "server/FactoryTemplate.h"
#include "server/FileTypeList.h"
#include "server/FileTypeRegistration.h"
#include "server/ModuleState.h"

#include <uuids.h>

#include <cwchar>
#include <memory>
#include <string>

namespace {

constexpr DWORD NameChars = 256;
constexpr HRESULT FileNotFound = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);

HRESULT FromWin32(LONG error) {
    return static_cast<HRESULT>(0x80070000u | static_cast<ULONG>(error));
}

std::wstring ClassKeyName(const CLSID& classId) {
    wchar_t text[39];
    StringFromGUID2(classId, text, 39);
    return std::wstring(L"CLSID\\") + text;
}

HRESULT SetText(HKEY key, const wchar_t* name, const wchar_t* text) {
    const LONG error = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                                      static_cast<DWORD>((std::wcslen(text) + 1) * sizeof(wchar_t)));
    return error == ERROR_SUCCESS ? S_OK : FromWin32(error);
}

// The class key with its server key, written in full or not at all.
HRESULT WriteClassKey(const std::wstring& keyName, const wchar_t* description, const wchar_t* modulePath,
                      const wchar_t* threadingModel, const wchar_t* serverKeyName) {
    CRegistryKey classKey, serverKey;
    HRESULT hr = CRegistryKey::Create(HKEY_CLASSES_ROOT, keyName.c_str(), &classKey);
    if (SUCCEEDED(hr)) hr = SetText(classKey.get(), nullptr, description);
    if (SUCCEEDED(hr)) hr = CRegistryKey::Create(classKey.get(), serverKeyName, &serverKey);
    if (SUCCEEDED(hr)) hr = SetText(serverKey.get(), nullptr, modulePath);
    if (SUCCEEDED(hr)) hr = SetText(serverKey.get(), L"ThreadingModel", threadingModel);
    return hr;
}

// Deletes the tree and reports whether the key itself is gone.
bool RemoveTree(HKEY parent, const wchar_t* name) {
    HKEY opened = nullptr;
    if (RegOpenKeyExW(parent, name, 0, MAXIMUM_ALLOWED, &opened) != ERROR_SUCCESS) return true;
    {
        CRegistryKey key(opened);
        DWORD index = 0;
        for (;;) {
            wchar_t child[NameChars];
            DWORD length = NameChars;
            if (RegEnumKeyExW(key.get(), index, child, &length, nullptr, nullptr, nullptr, nullptr) !=
                ERROR_SUCCESS) {
                break;
            }
            // A child that stays behind would be found at the same index
            // forever: step past it.
            if (!RemoveTree(key.get(), child)) ++index;
        }
    }
    return RegDeleteKeyW(parent, name) == ERROR_SUCCESS;
}

}  // namespace

HRESULT DeleteRegistryTree(HKEY parent, const wchar_t* name) {
    if (!name || !*name) return E_FAIL;
    RemoveTree(parent, name);
    return S_OK;
}

HRESULT WriteServerKeys(const CLSID& classId, const wchar_t* description, const wchar_t* modulePath,
                        const wchar_t* threadingModel, const wchar_t* serverKeyName) {
    const std::wstring keyName = ClassKeyName(classId);
    const HRESULT hr = WriteClassKey(keyName, description, modulePath, threadingModel, serverKeyName);
    // A class key without its module's path would let COM find a class it
    // cannot load.
    if (FAILED(hr)) DeleteRegistryTree(HKEY_CLASSES_ROOT, keyName.c_str());
    return hr;
}

HRESULT DeleteServerKeys(const CLSID& classId) {
    DeleteRegistryTree(HKEY_CLASSES_ROOT, ClassKeyName(classId).c_str());
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
    // Read as wide text of any length: a path through the code page would
    // name another file, in a folder whose name lies outside it.
    std::wstring modulePath;
    const HRESULT pathResult = CWidePath::OfModule(ModuleInstance, &modulePath);
    if (FAILED(pathResult)) return pathResult;
    const wchar_t* path = modulePath.c_str();

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
