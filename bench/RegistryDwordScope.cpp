#include "bench/RegistryDwordScope.h"

#include <memory>
#include <type_traits>

namespace {

struct KeyCloser {
    void operator()(HKEY key) const { RegCloseKey(key); }
};
using UniqueKey = std::unique_ptr<std::remove_pointer_t<HKEY>, KeyCloser>;

UniqueKey CreateKey(HKEY root, const std::wstring& key) {
    HKEY opened = nullptr;
    if (RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &opened, nullptr) !=
        ERROR_SUCCESS) {
        return nullptr;
    }
    return UniqueKey(opened);
}

}  // namespace

CRegistryDwordScope::CRegistryDwordScope(HKEY root, const std::wstring& key, const std::wstring& name, DWORD value)
    : Root(root), Key(key), Name(name) {
    const UniqueKey opened = CreateKey(Root, Key);
    if (!opened) return;
    DWORD size = 0;
    if (RegQueryValueExW(opened.get(), Name.c_str(), nullptr, &EarlierType, nullptr, &size) == ERROR_SUCCESS) {
        EarlierData.resize(size);
        HadEarlier = RegQueryValueExW(opened.get(), Name.c_str(), nullptr, &EarlierType, EarlierData.data(), &size) ==
                     ERROR_SUCCESS;
        EarlierData.resize(size);
    }
    Set = RegSetValueExW(opened.get(), Name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                         sizeof(value)) == ERROR_SUCCESS;
}

CRegistryDwordScope::~CRegistryDwordScope() {
    if (!Set) return;
    const UniqueKey opened = CreateKey(Root, Key);
    if (!opened) return;
    if (HadEarlier) {
        RegSetValueExW(opened.get(), Name.c_str(), 0, EarlierType, EarlierData.data(),
                       static_cast<DWORD>(EarlierData.size()));
    } else {
        RegDeleteValueW(opened.get(), Name.c_str());
    }
}
