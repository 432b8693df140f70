#include "server/FileTypeRegistration.h"

#include "server/RegistryKey.h"

#include "server/FileTypeList.h"
#include "common/KXVDSrcClsid.h"
#include "server/ByteStreamHandlerRegistration.h"
#include "server/ShellHandlerRegistration.h"

#include <bcrypt.h>
#include <objbase.h>
#include <uuids.h>

#include <memory>
#include <string>

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

std::wstring GuidText(const GUID& id) {
    wchar_t text[39];
    StringFromGUID2(id, text, 39);
    return text;
}

struct AlgorithmCloser {
    void operator()(BCRYPT_ALG_HANDLE algorithm) const { BCryptCloseAlgorithmProvider(algorithm, 0); }
};
struct HashCloser {
    void operator()(BCRYPT_HASH_HANDLE hash) const { BCryptDestroyHash(hash); }
};
using UniqueAlgorithm = std::unique_ptr<void, AlgorithmCloser>;
using UniqueHash = std::unique_ptr<void, HashCloser>;

HRESULT FromStatus(NTSTATUS status) {
    return BCRYPT_SUCCESS(status) ? S_OK : HRESULT_FROM_NT(status);
}

// The name-based (version 5) id of a pattern's canonical text in the
// namespace of the subtype under which earlier versions kept every pattern:
// the same pattern always gets the same key, on every machine and in every
// version, so registering again rewrites it and removal finds it.
HRESULT PatternSubtype(const std::wstring& pattern, GUID* subtype) {
    BCRYPT_ALG_HANDLE opened = nullptr;
    HRESULT hr = FromStatus(BCryptOpenAlgorithmProvider(&opened, BCRYPT_SHA1_ALGORITHM, nullptr, 0));
    if (FAILED(hr)) return hr;
    const UniqueAlgorithm algorithm(opened);
    BCRYPT_HASH_HANDLE created = nullptr;
    hr = FromStatus(BCryptCreateHash(algorithm.get(), &created, nullptr, 0, nullptr, 0, 0));
    if (FAILED(hr)) return hr;
    const UniqueHash hash(created);

    // The namespace in network byte order, then the name; a pattern is
    // ASCII, so its UTF-8 bytes are its characters.
    const GUID& space = MEDIASUBTYPE_KXVDRecording;
    std::string name;
    for (int shift = 24; shift >= 0; shift -= 8) name.push_back(static_cast<char>(space.Data1 >> shift));
    for (int shift = 8; shift >= 0; shift -= 8) name.push_back(static_cast<char>(space.Data2 >> shift));
    for (int shift = 8; shift >= 0; shift -= 8) name.push_back(static_cast<char>(space.Data3 >> shift));
    name.append(reinterpret_cast<const char*>(space.Data4), sizeof(space.Data4));
    for (wchar_t c : pattern) name.push_back(static_cast<char>(c));
    hr = FromStatus(BCryptHashData(hash.get(), reinterpret_cast<UCHAR*>(&name[0]), static_cast<ULONG>(name.size()), 0));
    UCHAR digest[20] = {};
    if (SUCCEEDED(hr)) hr = FromStatus(BCryptFinishHash(hash.get(), digest, sizeof(digest), 0));
    if (FAILED(hr)) return hr;

    digest[6] = static_cast<UCHAR>((digest[6] & 0x0F) | 0x50);
    digest[8] = static_cast<UCHAR>((digest[8] & 0x3F) | 0x80);
    subtype->Data1 = (static_cast<ULONG>(digest[0]) << 24) | (static_cast<ULONG>(digest[1]) << 16) |
                     (static_cast<ULONG>(digest[2]) << 8) | digest[3];
    subtype->Data2 = static_cast<USHORT>((digest[4] << 8) | digest[5]);
    subtype->Data3 = static_cast<USHORT>((digest[6] << 8) | digest[7]);
    for (int i = 0; i < 8; ++i) subtype->Data4[i] = digest[8 + i];
    return S_OK;
}

std::wstring StreamTypeKeyName() {
    return std::wstring(MediaTypeKey) + L"\\" + GuidText(MEDIATYPE_Stream);
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

// Hands a taken key back: restores or deletes the values we set, and
// removes the key when nothing of anyone else is left in it.
HRESULT ReleaseKey(HKEY parent, const std::wstring& name, const std::vector<const wchar_t*>& values) {
    {
        CRegistryKey key = CRegistryKey::Open(parent, name, KEY_READ | KEY_WRITE);
        if (!key) return S_OK;
        for (const wchar_t* value : values) GiveBack(key.get(), value);
        if (!CRegistryKey::IsEmpty(key.get())) return S_OK;
    }
    const LONG error = RegDeleteKeyW(parent, name.c_str());
    return error == ERROR_SUCCESS || error == ERROR_FILE_NOT_FOUND ? S_OK : FromWin32(error);
}

HRESULT AddPlayerKey(const std::wstring& extension) {
    CRegistryKey key;
    HRESULT hr = CRegistryKey::Create(HKEY_LOCAL_MACHINE, std::wstring(PlayerExtensionsKey) + L"\\" + extension, &key, nullptr);
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
    CRegistryKey key;
    HRESULT hr = CRegistryKey::Create(HKEY_CLASSES_ROOT, std::wstring(ExtensionsKey) + L"\\" + extension, &key, nullptr);
    if (FAILED(hr)) return hr;
    // Someone else's extension is taken over: the deployer named it.
    if (!NamesOurClass(key.get(), SourceFilterValue)) {
        hr = KeepPrevious(key.get(), SourceFilterValue);
        if (FAILED(hr)) return hr;
    }
    hr = SetText(key.get(), SourceFilterValue, GuidText(CLSID_KXVDSource));
    if (SUCCEEDED(hr)) hr = CShellHandlerRegistration::AddExtension(extension);
    if (SUCCEEDED(hr)) hr = AddPlayerKey(extension);
    return SUCCEEDED(hr) ? CByteStreamHandlerRegistration::Add(extension) : hr;
}

// Every key under parent (in root) whose mark value names our class, with the
// values we wrote there (a previous owner's are put back).
HRESULT ReleaseKeysNamingUs(HKEY root, const wchar_t* parent, const wchar_t* mark,
                            const std::vector<const wchar_t*>& values) {
    HRESULT result = S_OK;
    CRegistryKey keys = CRegistryKey::Open(root, parent, KEY_READ);
    if (!keys) return S_OK;
    for (const std::wstring& name : CRegistryKey::SubkeyNames(keys.get())) {
        CRegistryKey key = CRegistryKey::Open(keys.get(), name, KEY_READ);
        if (!key || !NamesOurClass(key.get(), mark)) continue;
        key.reset();
        const HRESULT hr = ReleaseKey(keys.get(), name, values);
        if (SUCCEEDED(result)) result = hr;
    }
    return result;
}

// Removes parent\name with everything below it when its source filter is
// ours; S_OK when it is not there or not ours.
HRESULT RemoveKeyNamingUs(HKEY parent, const std::wstring& name) {
    {
        CRegistryKey key = CRegistryKey::Open(parent, name, KEY_READ);
        if (!key || !NamesOurClass(key.get(), SourceFilterValue)) return S_OK;
    }
    const LONG error = RegDeleteTreeW(parent, name.c_str());
    return error == ERROR_SUCCESS || error == ERROR_FILE_NOT_FOUND ? S_OK : FromWin32(error);
}

// Every subtype key under any major type whose source filter is ours: one a
// pattern, and the one of earlier versions.
HRESULT RemovePatternKeys() {
    HRESULT result = S_OK;
    CRegistryKey types = CRegistryKey::Open(HKEY_CLASSES_ROOT, MediaTypeKey, KEY_READ);
    if (!types) return S_OK;
    for (const std::wstring& major : CRegistryKey::SubkeyNames(types.get())) {
        if (_wcsicmp(major.c_str(), L"Extensions") == 0) continue;
        CRegistryKey majorKey = CRegistryKey::Open(types.get(), major, KEY_ALL_ACCESS);
        if (!majorKey) continue;
        for (const std::wstring& minor : CRegistryKey::SubkeyNames(majorKey.get())) {
            const HRESULT hr = RemoveKeyNamingUs(majorKey.get(), minor);
            if (SUCCEEDED(result)) result = hr;
        }
    }
    return result;
}

}  // namespace

const wchar_t* const CFileTypeRegistration::SignaturePattern = L"0,4,,4B585652";

HRESULT CFileTypeRegistration::AddPatterns(const std::vector<std::wstring>& patterns) {
    if (patterns.empty()) return S_OK;
    CRegistryKey streamKey;
    HRESULT hr = CRegistryKey::Create(HKEY_CLASSES_ROOT, StreamTypeKeyName(), &streamKey, nullptr);
    if (FAILED(hr)) return hr;
    // The key of earlier versions held every pattern as values "0", "1", ...
    // of one key, of which Wine's graph manager tries only those no longer
    // than the first.
    hr = RemoveKeyNamingUs(streamKey.get(), GuidText(MEDIASUBTYPE_KXVDRecording));
    for (const std::wstring& pattern : patterns) {
        if (FAILED(hr)) break;
        std::wstring canonical;
        if (!CFileTypeList::CanonicalPattern(pattern, &canonical)) return E_INVALIDARG;
        GUID subtype = {};
        hr = PatternSubtype(canonical, &subtype);
        CRegistryKey key;
        if (SUCCEEDED(hr)) hr = CRegistryKey::Create(streamKey.get(), GuidText(subtype), &key, nullptr);
        if (SUCCEEDED(hr)) hr = SetText(key.get(), L"0", canonical);
        if (SUCCEEDED(hr)) hr = SetText(key.get(), SourceFilterValue, GuidText(CLSID_KXVDSource));
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
    hr = CByteStreamHandlerRegistration::RemoveAll();
    if (SUCCEEDED(result)) result = hr;
    hr = CShellHandlerRegistration::RemoveAll();
    if (SUCCEEDED(result)) result = hr;
    return result;
}
