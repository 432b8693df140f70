#include "server/FileTypeRegistration.h"

#include "common/KXVDSrcClsid.h"
#include "server/ShellHandlerRegistration.h"

#include <objbase.h>
#include <uuids.h>

#include <memory>

namespace {

const wchar_t ExtensionsKey[] = L"Media Type\\Extensions";
const wchar_t MediaTypeKey[] = L"Media Type";
const wchar_t PlayerExtensionsKey[] = L"Software\\Microsoft\\Multimedia\\WMPlayer\\Extensions";
const wchar_t SourceFilterValue[] = L"Source Filter";
const wchar_t PlayerMarkValue[] = L"KXVD Source Filter";
const wchar_t PreviousPrefix[] = L"KXVD Previous ";
constexpr DWORD PlayerRuntimeDirectShow = 7;
constexpr DWORD PlayerPermissions = 15;
constexpr DWORD NameChars = 256;

HRESULT FromWin32(LONG error) {
    return HRESULT_FROM_WIN32(static_cast<DWORD>(error));
}

struct KeyCloser {
    void operator()(HKEY key) const { RegCloseKey(key); }
};
using UniqueKey = std::unique_ptr<std::remove_pointer_t<HKEY>, KeyCloser>;

std::wstring GuidText(const GUID& id) {
    wchar_t text[39];
    StringFromGUID2(id, text, 39);
    return text;
}

std::wstring PatternKeyName() {
    return std::wstring(MediaTypeKey) + L"\\" + GuidText(MEDIATYPE_Stream) + L"\\" +
           GuidText(MEDIASUBTYPE_KXVDRecording);
}

UniqueKey OpenKey(HKEY parent, const std::wstring& name, REGSAM access) {
    HKEY opened = nullptr;
    if (RegOpenKeyExW(parent, name.c_str(), 0, access, &opened) != ERROR_SUCCESS) return UniqueKey();
    return UniqueKey(opened);
}

HRESULT CreateKey(HKEY parent, const std::wstring& name, UniqueKey* key, bool* existed) {
    HKEY opened = nullptr;
    DWORD disposition = 0;
    const LONG error = RegCreateKeyExW(parent, name.c_str(), 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &opened,
                                       &disposition);
    if (error != ERROR_SUCCESS) return FromWin32(error);
    key->reset(opened);
    if (existed) *existed = disposition == REG_OPENED_EXISTING_KEY;
    return S_OK;
}

bool ReadText(HKEY key, const wchar_t* name, std::wstring* text) {
    wchar_t data[NameChars] = {};
    DWORD bytes = sizeof(data) - sizeof(wchar_t);
    DWORD type = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &bytes) != ERROR_SUCCESS ||
        type != REG_SZ) {
        return false;
    }
    *text = data;
    return true;
}

bool NamesOurClass(HKEY key, const wchar_t* valueName) {
    std::wstring text;
    CLSID named = {};
    return ReadText(key, valueName, &text) && SUCCEEDED(CLSIDFromString(text.c_str(), &named)) &&
           IsEqualCLSID(named, CLSID_KXVDSource);
}

HRESULT SetText(HKEY key, const wchar_t* name, const std::wstring& text) {
    return FromWin32(RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                    static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))));
}

HRESULT SetNumber(HKEY key, const wchar_t* name, DWORD number) {
    return FromWin32(
        RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof(number)));
}

// Keeps a value we are about to replace under its "previous" name, data and
// type as they are. Only for a key that is not ours yet.
HRESULT KeepPrevious(HKEY key, const wchar_t* name) {
    BYTE data[1024];
    DWORD bytes = sizeof(data);
    DWORD type = 0;
    const LONG error = RegQueryValueExW(key, name, nullptr, &type, data, &bytes);
    if (error == ERROR_FILE_NOT_FOUND) return S_OK;
    // A value we cannot keep whole is not replaced.
    if (error != ERROR_SUCCESS) return FromWin32(error);
    const std::wstring kept = std::wstring(PreviousPrefix) + name;
    return FromWin32(RegSetValueExW(key, kept.c_str(), 0, type, data, bytes));
}

// Puts a kept value back, or deletes ours where there was none.
void GiveBack(HKEY key, const wchar_t* name) {
    const std::wstring kept = std::wstring(PreviousPrefix) + name;
    BYTE data[1024];
    DWORD bytes = sizeof(data);
    DWORD type = 0;
    if (RegQueryValueExW(key, kept.c_str(), nullptr, &type, data, &bytes) == ERROR_SUCCESS) {
        RegSetValueExW(key, name, 0, type, data, bytes);
        RegDeleteValueW(key, kept.c_str());
    } else {
        RegDeleteValueW(key, name);
    }
}

bool IsEmptyKey(HKEY key) {
    DWORD subkeys = 0, values = 0;
    if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr,
                         nullptr, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    return subkeys == 0 && values == 0;
}

std::vector<std::wstring> SubkeyNames(HKEY key) {
    std::vector<std::wstring> names;
    for (DWORD index = 0;; ++index) {
        wchar_t name[NameChars];
        DWORD length = NameChars;
        if (RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        names.push_back(name);
    }
    return names;
}

// Hands a taken key back: restores or deletes the values we set, and
// removes the key when nothing of anyone else is left in it.
HRESULT ReleaseKey(HKEY parent, const std::wstring& name, const std::vector<const wchar_t*>& values) {
    {
        UniqueKey key = OpenKey(parent, name, KEY_READ | KEY_WRITE);
        if (!key) return S_OK;
        for (const wchar_t* value : values) GiveBack(key.get(), value);
        if (!IsEmptyKey(key.get())) return S_OK;
    }
    const LONG error = RegDeleteKeyW(parent, name.c_str());
    return error == ERROR_SUCCESS || error == ERROR_FILE_NOT_FOUND ? S_OK : FromWin32(error);
}

HRESULT AddPlayerKey(const std::wstring& extension) {
    UniqueKey key;
    HRESULT hr = CreateKey(HKEY_LOCAL_MACHINE, std::wstring(PlayerExtensionsKey) + L"\\" + extension, &key, nullptr);
    if (FAILED(hr)) return hr;
    if (!NamesOurClass(key.get(), PlayerMarkValue)) {
        for (const wchar_t* value : {L"Runtime", L"Permissions"}) {
            hr = KeepPrevious(key.get(), value);
            if (FAILED(hr)) return hr;
        }
    }
    hr = SetNumber(key.get(), L"Runtime", PlayerRuntimeDirectShow);
    if (SUCCEEDED(hr)) hr = SetNumber(key.get(), L"Permissions", PlayerPermissions);
    if (SUCCEEDED(hr)) hr = SetText(key.get(), PlayerMarkValue, GuidText(CLSID_KXVDSource));
    return hr;
}

HRESULT AddExtension(const std::wstring& extension) {
    UniqueKey key;
    HRESULT hr = CreateKey(HKEY_CLASSES_ROOT, std::wstring(ExtensionsKey) + L"\\" + extension, &key, nullptr);
    if (FAILED(hr)) return hr;
    // Someone else's extension is taken over: the deployer named it.
    if (!NamesOurClass(key.get(), SourceFilterValue)) {
        hr = KeepPrevious(key.get(), SourceFilterValue);
        if (FAILED(hr)) return hr;
    }
    hr = SetText(key.get(), SourceFilterValue, GuidText(CLSID_KXVDSource));
    if (SUCCEEDED(hr)) hr = CShellHandlerRegistration::AddExtension(extension);
    return SUCCEEDED(hr) ? AddPlayerKey(extension) : hr;
}

// Every key under parent (in root) whose mark value names our class, with the
// values we wrote there (a previous owner's are put back).
HRESULT ReleaseKeysNamingUs(HKEY root, const wchar_t* parent, const wchar_t* mark,
                            const std::vector<const wchar_t*>& values) {
    HRESULT result = S_OK;
    UniqueKey keys = OpenKey(root, parent, KEY_READ);
    if (!keys) return S_OK;
    for (const std::wstring& name : SubkeyNames(keys.get())) {
        UniqueKey key = OpenKey(keys.get(), name, KEY_READ);
        if (!key || !NamesOurClass(key.get(), mark)) continue;
        key.reset();
        const HRESULT hr = ReleaseKey(keys.get(), name, values);
        if (SUCCEEDED(result)) result = hr;
    }
    return result;
}

// Every subtype key under any major type whose source filter is ours, with
// its patterns.
HRESULT RemovePatternKeys() {
    HRESULT result = S_OK;
    UniqueKey types = OpenKey(HKEY_CLASSES_ROOT, MediaTypeKey, KEY_READ);
    if (!types) return S_OK;
    for (const std::wstring& major : SubkeyNames(types.get())) {
        if (_wcsicmp(major.c_str(), L"Extensions") == 0) continue;
        UniqueKey majorKey = OpenKey(types.get(), major, KEY_ALL_ACCESS);
        if (!majorKey) continue;
        for (const std::wstring& minor : SubkeyNames(majorKey.get())) {
            UniqueKey minorKey = OpenKey(majorKey.get(), minor, KEY_READ);
            if (!minorKey || !NamesOurClass(minorKey.get(), SourceFilterValue)) continue;
            minorKey.reset();
            const LONG error = RegDeleteTreeW(majorKey.get(), minor.c_str());
            if (error != ERROR_SUCCESS && SUCCEEDED(result)) result = FromWin32(error);
        }
    }
    return result;
}

}  // namespace

const wchar_t* const CFileTypeRegistration::SignaturePattern = L"0,4,,4B585652";

HRESULT CFileTypeRegistration::AddPatterns(const std::vector<std::wstring>& patterns) {
    if (patterns.empty()) return S_OK;
    UniqueKey key;
    HRESULT hr = CreateKey(HKEY_CLASSES_ROOT, PatternKeyName(), &key, nullptr);
    if (FAILED(hr)) return hr;
    hr = SetText(key.get(), SourceFilterValue, GuidText(CLSID_KXVDSource));
    // The key is ours alone: its values are the source filter and the
    // patterns, numbered from 0 without gaps; a pattern there already stays.
    for (const std::wstring& pattern : patterns) {
        if (FAILED(hr)) break;
        DWORD number = 0;
        bool present = false;
        for (std::wstring existing; ReadText(key.get(), std::to_wstring(number).c_str(), &existing); ++number) {
            present = present || _wcsicmp(existing.c_str(), pattern.c_str()) == 0;
        }
        if (!present) hr = SetText(key.get(), std::to_wstring(number).c_str(), pattern);
    }
    return hr;
}

HRESULT CFileTypeRegistration::AddExtensions(const std::vector<std::wstring>& extensions) {
    for (const std::wstring& extension : extensions) {
        const HRESULT hr = AddExtension(extension);
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

HRESULT CFileTypeRegistration::RemoveAll() {
    HRESULT result = ReleaseKeysNamingUs(HKEY_CLASSES_ROOT, ExtensionsKey, SourceFilterValue, {SourceFilterValue});
    HRESULT hr = ReleaseKeysNamingUs(HKEY_LOCAL_MACHINE, PlayerExtensionsKey, PlayerMarkValue,
                                     {L"Runtime", L"Permissions", PlayerMarkValue});
    if (SUCCEEDED(result)) result = hr;
    hr = RemovePatternKeys();
    if (SUCCEEDED(result)) result = hr;
    hr = CShellHandlerRegistration::RemoveAll();
    if (SUCCEEDED(result)) result = hr;
    return result;
}
