#include "server/ByteStreamHandlerRegistration.h"

#include "server/RegistryKey.h"

#include "common/KXVDSrcClsid.h"

#include <objbase.h>

#include <memory>
#include <vector>

namespace {

const wchar_t HandlersKey[] = L"Software\\Microsoft\\Windows Media Foundation\\ByteStreamHandlers";
const wchar_t PreviousPrefix[] = L"KXVD Previous ";
constexpr size_t PreviousPrefixChars = ARRAYSIZE(PreviousPrefix) - 1;
constexpr DWORD NameChars = 256;

HRESULT FromWin32(LONG error) { return HRESULT_FROM_WIN32(static_cast<DWORD>(error)); }

std::wstring OurValueName() {
    wchar_t text[39];
    StringFromGUID2(CLSID_KXVDByteStreamHandler, text, 39);
    return text;
}

bool IsClassIdName(const std::wstring& name) {
    CLSID id = {};
    return name.size() == 38 && SUCCEEDED(CLSIDFromString(name.c_str(), &id));
}

// Moves a value to another name, data and type as they are.
HRESULT Rename(HKEY key, const std::wstring& from, const std::wstring& to) {
    BYTE data[1024];
    DWORD bytes = sizeof(data);
    DWORD type = 0;
    LONG error = RegQueryValueExW(key, from.c_str(), nullptr, &type, data, &bytes);
    if (error == ERROR_SUCCESS) error = RegSetValueExW(key, to.c_str(), 0, type, data, bytes);
    if (error == ERROR_SUCCESS) error = RegDeleteValueW(key, from.c_str());
    return FromWin32(error);
}

HRESULT Release(HKEY handlers, const std::wstring& extension, const std::wstring& ours) {
    {
        HKEY opened = nullptr;
        const LONG error = RegOpenKeyExW(handlers, extension.c_str(), 0, KEY_READ | KEY_WRITE, &opened);
        if (error != ERROR_SUCCESS) return FromWin32(error);
        CRegistryKey key(opened);
        if (RegQueryValueExW(key.get(), ours.c_str(), nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            return S_OK;
        }
        HRESULT result = FromWin32(RegDeleteValueW(key.get(), ours.c_str()));
        for (const std::wstring& name : CRegistryKey::ValueNames(key.get())) {
            if (name.compare(0, PreviousPrefixChars, PreviousPrefix) != 0) continue;
            const HRESULT hr = Rename(key.get(), name, name.substr(PreviousPrefixChars));
            if (SUCCEEDED(result)) result = hr;
        }
        if (FAILED(result) || !CRegistryKey::IsEmpty(key.get())) return result;
    }
    return FromWin32(RegDeleteKeyW(handlers, extension.c_str()));
}

}  // namespace

HRESULT CByteStreamHandlerRegistration::Add(const std::wstring& extension) {
    const std::wstring name = std::wstring(HandlersKey) + L"\\" + extension;
    HKEY opened = nullptr;
    const LONG error = RegCreateKeyExW(HKEY_LOCAL_MACHINE, name.c_str(), 0, nullptr, 0, KEY_READ | KEY_WRITE,
                                       nullptr, &opened, nullptr);
    if (error != ERROR_SUCCESS) return FromWin32(error);
    CRegistryKey key(opened);
    const std::wstring ours = OurValueName();
    for (const std::wstring& other : CRegistryKey::ValueNames(key.get())) {
        if (!IsClassIdName(other) || _wcsicmp(other.c_str(), ours.c_str()) == 0) continue;
        const HRESULT hr = Rename(key.get(), other, PreviousPrefix + other);
        if (FAILED(hr)) return hr;
    }
    const std::wstring description = KXVDByteStreamHandlerName;
    return FromWin32(RegSetValueExW(key.get(), ours.c_str(), 0, REG_SZ,
                                    reinterpret_cast<const BYTE*>(description.c_str()),
                                    static_cast<DWORD>((description.size() + 1) * sizeof(wchar_t))));
}

HRESULT CByteStreamHandlerRegistration::RemoveAll() {
    HKEY opened = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, HandlersKey, 0, KEY_READ | KEY_WRITE, &opened) != ERROR_SUCCESS) {
        return S_OK;
    }
    CRegistryKey handlers(opened);
    std::vector<std::wstring> extensions;
    for (DWORD index = 0;; ++index) {
        wchar_t name[NameChars];
        DWORD length = NameChars;
        if (RegEnumKeyExW(handlers.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            break;
        }
        extensions.push_back(name);
    }
    const std::wstring ours = OurValueName();
    HRESULT result = S_OK;
    for (const std::wstring& extension : extensions) {
        const HRESULT hr = Release(handlers.get(), extension, ours);
        if (SUCCEEDED(result)) result = hr;
    }
    return result;
}
