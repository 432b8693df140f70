#include "Console.h"

#include <windows.h>

#include <cstdio>

std::string CConsole::Utf8(const std::wstring& text) {
    if (text.empty()) return std::string();
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                          nullptr, nullptr);
    std::string out(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], bytes, nullptr, nullptr);
    return out;
}

void CConsole::Out(const std::wstring& text) {
    fputs(Utf8(text).c_str(), stdout);
    fflush(stdout);
}

void CConsole::Err(const std::wstring& text) {
    fputs(Utf8(text).c_str(), stderr);
    fflush(stderr);
}

bool CConsole::ErrIsTerminal() {
    HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    return handle && handle != INVALID_HANDLE_VALUE && GetFileType(handle) == FILE_TYPE_CHAR &&
           GetConsoleMode(handle, &mode);
}

void CConsole::OutUtf8(const std::string& text) {
    fputs(text.c_str(), stdout);
    fflush(stdout);
}

void CConsole::ErrUtf8(const std::string& text) {
    fputs(text.c_str(), stderr);
    fflush(stderr);
}
