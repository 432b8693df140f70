#include "PushTest.h"

#include <objbase.h>

#include <future>
#include <memory>
#include <thread>

void PushTest::SetUp() {
    ComResult = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    ASSERT_TRUE(SUCCEEDED(ComResult));
    CountAtStart = LiveObjectCount;
}

void PushTest::TearDown() {
    EXPECT_EQ(CountAtStart, LiveObjectCount) << "framework objects outlived the test";
    if (SUCCEEDED(ComResult)) CoUninitialize();
}

bool RunBounded(const std::function<void()>& call, DWORD timeoutMs) {
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> finished = done->get_future();
    std::thread([call, done] {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        call();
        CoUninitialize();
        done->set_value();
    }).detach();
    return finished.wait_for(std::chrono::milliseconds(timeoutMs)) == std::future_status::ready;
}
