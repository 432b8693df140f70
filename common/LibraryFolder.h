// The folder of the maker's playback library that the installer recorded (its
// LIBRARYDIR property): REG_SZ LibraryFolder under HKLM\Software\KXVD\KXVDSrc
// in the 32-bit registry view, which is where the 32-bit module and the helper,
// the processes that load the library, look. Header-only, so that kxvplay of
// either width checks the same place before it names a missing library.
// Keeps no state; any thread.
#pragma once

#include <windows.h>

#include <cwchar>
#include <memory>
#include <string>
#include <type_traits>

// The recorded folder with a trailing separator, or empty when none is recorded.
inline std::wstring RecordedLibraryFolder() {
    struct KeyCloser {
        void operator()(HKEY key) const { RegCloseKey(key); }
    };
    HKEY opened = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\KXVD\\KXVDSrc", 0, KEY_QUERY_VALUE | KEY_WOW64_32KEY,
                      &opened) != ERROR_SUCCESS) {
        return std::wstring();
    }
    const std::unique_ptr<std::remove_pointer_t<HKEY>, KeyCloser> key(opened);
    DWORD bytes = 0;
    if (RegGetValueW(key.get(), nullptr, L"LibraryFolder", RRF_RT_REG_SZ, nullptr, nullptr, &bytes) != ERROR_SUCCESS ||
        bytes < 2 * sizeof(wchar_t)) {
        return std::wstring();
    }
    std::wstring folder(bytes / sizeof(wchar_t), L'\0');
    if (RegGetValueW(key.get(), nullptr, L"LibraryFolder", RRF_RT_REG_SZ, nullptr, &folder[0], &bytes) !=
        ERROR_SUCCESS) {
        return std::wstring();
    }
    folder.resize(std::wcslen(folder.c_str()));
    if (!folder.empty() && folder.back() != L'\\' && folder.back() != L'/') folder += L'\\';
    return folder;
}
