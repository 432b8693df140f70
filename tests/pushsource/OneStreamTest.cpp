#include "OneStreamTest.h"

#include "common/AdoptReference.h"

#include <gtest/gtest.h>

void OneStreamTest::SetUp() {
    PushTest::SetUp();
    Source = CTestPushSource::Create(1);
    ASSERT_NE(nullptr, Source);
    Stream = Source->Stream(0);
    Sink = AdoptReference(new CHandSink());
}

void OneStreamTest::TearDown() {
    Pin()->Disconnect();
    Sink->Disconnect();
    Sink.Reset();
    Source->Filter()->Release();
    PushTest::TearDown();
}
