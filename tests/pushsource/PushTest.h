// Shared by the push-source tests: the fixture (multithreaded apartment; no
// framework object outlives its test) and a bounded runner for calls that
// would hang if the worker protocol were broken.
#pragma once

#include "framework/BaseObject.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <functional>

class PushTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

private:
    LONG CountAtStart = 0;
    HRESULT ComResult = E_FAIL;
};

// Runs call on a thread of its own; false when it has not returned within
// timeoutMs (the thread is then abandoned, still blocked).
bool RunBounded(const std::function<void()>& call, DWORD timeoutMs = 10000);
