// A fixture with a one-pin test push source and a hand-written downstream pin
// that is not yet connected; tear-down disconnects both and releases the source.
#pragma once

#include "HandSink.h"
#include "PushTest.h"
#include "TestPushSource.h"

#include <wrl/client.h>

class OneStreamTest : public PushTest {
protected:
    void SetUp() override;
    void TearDown() override;
    IPin* Pin() { return static_cast<IPin*>(Stream); }

    CTestPushSource* Source = nullptr;
    CTestPushStream* Stream = nullptr;
    Microsoft::WRL::ComPtr<CHandSink> Sink;
};
