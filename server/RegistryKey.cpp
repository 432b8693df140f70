#include "server/RegistryKey.h"

namespace {

// Value and key names are at most 255 characters in the registry.
constexpr DWORD NameChars = 256;

}  // namespace

CRegistryKey& CRegistryKey::operator=(CRegistryKey&& other) noexcept {
    if (this != &other) {
        reset(other.Key);
        other.Key = nullptr;
    }
    return *this;
}

void CRegistryKey::reset(HKEY key) {
    if (Key) RegCloseKey(Key);
    Key = key;
}

CRegistryKey CRegistryKey::Open(HKEY parent, const std::wstring& name, REGSAM access) {
    HKEY opened = nullptr;
    if (RegOpenKeyExW(parent, name.c_str(), 0, access, &opened) != ERROR_SUCCESS) return CRegistryKey();
    return CRegistryKey(opened);
}

HRESULT CRegistryKey::Create(HKEY parent, const std::wstring& name, CRegistryKey* key, bool* existed) {
    HKEY opened = nullptr;
    DWORD disposition = 0;
    const LONG error = RegCreateKeyExW(parent, name.c_str(), 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &opened,
                                       &disposition);
    if (error != ERROR_SUCCESS) return HRESULT_FROM_WIN32(static_cast<DWORD>(error));
    key->reset(opened);
    if (existed) *existed = disposition == REG_OPENED_EXISTING_KEY;
    return S_OK;
}

bool CRegistryKey::IsEmpty(HKEY key) {
    DWORD subkeys = 0, values = 0;
    if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr,
                         nullptr, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    return subkeys == 0 && values == 0;
}

std::vector<std::wstring> CRegistryKey::ValueNames(HKEY key) {
    std::vector<std::wstring> names;
    for (DWORD index = 0;; ++index) {
        wchar_t name[NameChars];
        DWORD length = NameChars;
        if (RegEnumValueW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        names.push_back(name);
    }
    return names;
}

std::vector<std::wstring> CRegistryKey::SubkeyNames(HKEY key) {
    std::vector<std::wstring> names;
    for (DWORD index = 0;; ++index) {
        wchar_t name[NameChars];
        DWORD length = NameChars;
        if (RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        names.push_back(name);
    }
    return names;
}
