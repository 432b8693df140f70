// Text output of kxvplay: results on stdout, errors and progress on stderr,
// both as UTF-8, and whether stderr is a terminal. Main thread only.
#pragma once

#include <string>

class CConsole {
public:
    static void Out(const std::wstring& text);
    static void Err(const std::wstring& text);
    // Text that is UTF-8 already (JSON).
    static void OutUtf8(const std::string& text);
    static void ErrUtf8(const std::string& text);
    // Whether stderr is a console window (then progress redraws one line).
    static bool ErrIsTerminal();
    static std::string Utf8(const std::wstring& text);
};
