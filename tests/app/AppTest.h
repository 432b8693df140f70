// The fixture of the kxvplay tests: COM on the test's thread, a folder of
// the test's own for recordings and outputs, and kxvplay run as a child
// process exactly as a user runs it, with a bounded wait.
#pragma once

#include "ChildProcess.h"
#include "FilterTest.h"

#include <string>
#include <vector>

class AppTest : public FilterTest {
protected:
    // Runs kxvplay.exe from the test executable's folder; fails the test
    // when it does not finish within a minute.
    ChildResult Kxvplay(const std::vector<std::wstring>& args);
    ChildResult KxvplayAt(const std::wstring& program, const std::vector<std::wstring>& args,
                          const std::wstring& folder);
};

// The folder of the test executable, with a trailing separator.
std::wstring BinFolder();

// A field of a one-line JSON object as text ("" when absent): numbers and
// booleans as written, strings without their quotes.
std::string JsonField(const std::string& json, const std::string& key);
double JsonNumber(const std::string& json, const std::string& key);
