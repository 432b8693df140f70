// The fixture of the kxvplay tests: COM on the test's thread, a folder of
// the test's own for recordings and outputs, and kxvplay run as a child
// process exactly as a user runs it, with a bounded wait.
#pragma once

#include "ChildProcess.h"
#include "TempFolder.h"
#include "TestRecordingFile.h"

#include <gtest/gtest.h>
#include <objbase.h>

#include <string>
#include <vector>

class AppTest : public ::testing::Test {
protected:
    void SetUp() override { CoInitializeEx(nullptr, COINIT_MULTITHREADED); }
    void TearDown() override { CoUninitialize(); }

    std::wstring Recording(const wchar_t* name, const RecordingPlan& plan) {
        const std::wstring path = Temp.File(name);
        WriteTestRecording(path, plan);
        return path;
    }

    // Runs kxvplay.exe from the test executable's folder; fails the test
    // when it does not finish within a minute.
    ChildResult Kxvplay(const std::vector<std::wstring>& args);
    ChildResult KxvplayAt(const std::wstring& program, const std::vector<std::wstring>& args,
                          const std::wstring& folder);

    CTempFolder Temp;
};

// The folder of the test executable, with a trailing separator.
std::wstring BinFolder();

// A field of a one-line JSON object as text ("" when absent): numbers and
// booleans as written, strings without their quotes.
std::string JsonField(const std::string& json, const std::string& key);
double JsonNumber(const std::string& json, const std::string& key);
