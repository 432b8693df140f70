// Paths the system reports, as wide text of whatever length it gives: a
// module installed in a folder whose name lies outside the system code page,
// or deeper than MAX_PATH, still finds itself. Header-only, so that the
// tools read paths the same way the modules do.
// Keeps no state; any thread.
#pragma once

#include <windows.h>

#include <string>

class CWidePath {
public:
    // The longest path the wide file functions take.
    static constexpr DWORD MaxChars = 32768;

    // The full path of module (null: the program). S_OK, or the Win32 error
    // as an HRESULT with path left empty.
    static HRESULT OfModule(HMODULE module, std::wstring* path) {
        path->clear();
        std::wstring text(MAX_PATH, L'\0');
        for (;;) {
            const DWORD length = GetModuleFileNameW(module, &text[0], static_cast<DWORD>(text.size()));
            if (length == 0) return FromLastError();
            // A cut path fills the whole buffer.
            if (length < text.size()) {
                text.resize(length);
                path->swap(text);
                return S_OK;
            }
            if (text.size() >= MaxChars) return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
            text.resize(text.size() * 2);
        }
    }

    // The full path of the module whose code or data holds address.
    static HRESULT OfModuleHolding(const void* address, std::wstring* path) {
        path->clear();
        HMODULE module = nullptr;
        if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                static_cast<LPCWSTR>(address), &module)) {
            return FromLastError();
        }
        return OfModule(module, path);
    }

    // The folder, with its trailing separator, of the module whose code or
    // data holds address; empty when it cannot be read.
    static std::wstring FolderOfModuleHolding(const void* address) {
        std::wstring path;
        return SUCCEEDED(OfModuleHolding(address, &path)) ? FolderOf(path) : std::wstring();
    }

    // The full form of a relative or absolute path. S_OK, or the Win32
    // error as an HRESULT with full left empty.
    static HRESULT Full(const std::wstring& path, std::wstring* full) {
        full->clear();
        std::wstring text(MAX_PATH, L'\0');
        for (;;) {
            const DWORD length = GetFullPathNameW(path.c_str(), static_cast<DWORD>(text.size()), &text[0], nullptr);
            if (length == 0) return FromLastError();
            // Too small a buffer: the answer is the size it needs.
            if (length < text.size()) {
                text.resize(length);
                full->swap(text);
                return S_OK;
            }
            if (length > MaxChars) return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
            text.resize(length);
        }
    }

    // The folder part of path with its trailing separator; empty when the
    // path names no folder.
    static std::wstring FolderOf(const std::wstring& path) {
        const size_t slash = path.find_last_of(L"\\/");
        return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
    }

private:
    static HRESULT FromLastError() {
        const DWORD error = GetLastError();
        return HRESULT_FROM_WIN32(error == ERROR_SUCCESS ? ERROR_GEN_FAILURE : error);
    }
};
