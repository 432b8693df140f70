#include "LiveObjectTest.h"

#include <objbase.h>

namespace {

// The binary as a whole must leave no framework object behind.
class NoLiveObjectsAtExit : public ::testing::Environment {
public:
    void TearDown() override { EXPECT_EQ(0, LiveObjectCount) << "framework objects left alive at exit"; }
};

const auto* const RegisteredEnvironment = ::testing::AddGlobalTestEnvironment(new NoLiveObjectsAtExit);

}  // namespace

void LiveObjectTest::SetUp() {
    CountAtStart = LiveObjectCount;
    ComResult = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
}

void LiveObjectTest::TearDown() {
    if (SUCCEEDED(ComResult)) {
        CoUninitialize();
    }
    EXPECT_EQ(CountAtStart, LiveObjectCount) << "a framework object outlived its test";
}
