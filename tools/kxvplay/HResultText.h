// Names and descriptions of HRESULTs for error messages: "0x80040217
// VFW_E_CANNOT_CONNECT (...)". Known streaming and COM codes by name, the
// rest described by the platform's message tables. Pure; any thread.
#pragma once

#include <windows.h>

#include <string>

// The code's symbolic name, or an empty string when it is not in the table.
std::wstring HResultName(HRESULT hr);

// "0x%08X NAME: description" with whatever of name and description is known.
std::wstring DescribeHResult(HRESULT hr);
