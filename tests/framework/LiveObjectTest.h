// Base fixture of every framework test: the thread is in the multithreaded
// apartment, and no framework object outlives the test that made it.
#pragma once

#include "framework/BaseObject.h"

#include <gtest/gtest.h>

class LiveObjectTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

private:
    LONG CountAtStart = 0;
    HRESULT ComResult = E_FAIL;
};
