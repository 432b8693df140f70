// The fixture of the graph tests: COM on the test's thread (multithreaded,
// as the filter's workers are) and a folder of its own for recordings.
#pragma once

#include "TempFolder.h"
#include "TestRecordingFile.h"

#include <gtest/gtest.h>
#include <objbase.h>

class FilterTest : public ::testing::Test {
protected:
    void SetUp() override { CoInitializeEx(nullptr, COINIT_MULTITHREADED); }
    void TearDown() override { CoUninitialize(); }

    // Writes a recording into the test's folder and returns its path.
    std::wstring Recording(const wchar_t* name, const RecordingPlan& plan) {
        const std::wstring path = Temp.File(name);
        WriteTestRecording(path, plan);
        return path;
    }

    CTempFolder Temp;
};
