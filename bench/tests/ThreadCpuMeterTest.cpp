// The CPU meter behind the real-time playback verdict: it must find the
// threads a module started, by their start address, and add up only the time
// they spent between two snapshots.
#include "bench/ThreadCpuMeter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>

namespace {

constexpr uint64_t BusyHundreds = 500000;  // 50 ms of CPU in 100-ns units

struct SpinControl {
    HANDLE Spun;   // set once the thread has used BusyHundreds of CPU
    HANDLE Stop;   // set by the test when the thread may end
    std::atomic<uint32_t> Work{0};
};

uint64_t OwnCpu() {
    FILETIME created, exited, kernel, user;
    GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
    auto hundreds = [](const FILETIME& t) { return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
    return hundreds(kernel) + hundreds(user);
}

DWORD WINAPI Spin(void* parameter) {
    auto* control = static_cast<SpinControl*>(parameter);
    const DWORD deadline = GetTickCount() + 10000;
    while (OwnCpu() < BusyHundreds && GetTickCount() < deadline) {
        for (int i = 0; i < 100000; ++i) control->Work.fetch_add(1, std::memory_order_relaxed);
    }
    SetEvent(control->Spun);
    WaitForSingleObject(control->Stop, 10000);
    return 0;
}

class ThreadCpuMeterTest : public ::testing::Test {
protected:
    void SetUp() override {
        control.Spun = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        control.Stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    }
    void TearDown() override {
        SetEvent(control.Stop);
        if (thread) {
            WaitForSingleObject(thread, 10000);
            CloseHandle(thread);
        }
        CloseHandle(control.Spun);
        CloseHandle(control.Stop);
    }
    DWORD StartSpinning() {
        DWORD id = 0;
        thread = CreateThread(nullptr, 0, Spin, &control, 0, &id);
        return id;
    }

    SpinControl control;
    HANDLE thread = nullptr;
};

}  // namespace

TEST_F(ThreadCpuMeterTest, FindsTheModulesThreadAndItsTime) {
    CThreadCpuMeter meter;
    meter.AddModule(GetModuleHandleW(nullptr));
    const auto before = meter.Snapshot();
    const DWORD id = StartSpinning();
    ASSERT_NE(nullptr, thread);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(control.Spun, 15000)) << "the spinning thread never reported";
    const auto after = meter.Snapshot();
    EXPECT_EQ(0u, before.count(id));
    ASSERT_EQ(1u, after.count(id)) << "a thread started at a function of the executable";
    EXPECT_GE(after.at(id), BusyHundreds);
    // Compared in whole 100-ns units: x87 excess precision makes 0.05 s
    // computed at run time differ from the constant in the last bit.
    const long long spent = std::llround(CThreadCpuMeter::SecondsBetween(before, after) * 1e7);
    EXPECT_GE(spent, static_cast<long long>(BusyHundreds)) << "a new thread counts in full";
}

TEST_F(ThreadCpuMeterTest, IgnoresThreadsOfOtherModules) {
    CThreadCpuMeter meter;
    meter.AddModule(GetModuleHandleW(L"kernel32.dll"));
    const DWORD id = StartSpinning();
    ASSERT_NE(nullptr, thread);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(control.Spun, 15000)) << "the spinning thread never reported";
    EXPECT_EQ(0u, meter.Snapshot().count(id));
    EXPECT_TRUE(CThreadCpuMeter().Snapshot().empty()) << "a meter without modules owns no thread";
}

TEST(ThreadCpuArithmetic, CountsGrowthOnlyAndNewThreadsInFull) {
    const std::map<DWORD, uint64_t> before = {{1, 100}, {2, 500}, {3, 700}};
    const std::map<DWORD, uint64_t> after = {{1, 400}, {2, 500}, {4, 1000}};
    // Thread 1 grew by 300, 2 not at all, 3 ended (not counted), 4 is new.
    EXPECT_DOUBLE_EQ(1300 / 1e7, CThreadCpuMeter::SecondsBetween(before, after));
    // A reused thread id whose time is lower than before adds nothing.
    EXPECT_DOUBLE_EQ(0, CThreadCpuMeter::SecondsBetween({{5, 900}}, {{5, 100}}));
}
