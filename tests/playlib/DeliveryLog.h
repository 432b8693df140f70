// The decode callback's context in tests: logs each delivery, checked
// against the test patterns.
#pragma once

#include "common/KXPlayApi.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

// One delivery of the decode callback, checked against the test patterns.
struct Delivery {
    int32_t type;
    int32_t width;
    int32_t height;
    int32_t stamp;
    long bytes;
    bool whole;            // a whole test picture, or whole test tone
    uint32_t frame;        // pictures: frame number
    uint32_t firstSample;  // sound: first sample index
};

// The decode callback's context: logs deliveries (Lock guards Log and the counts) and
// runs Hook inside the callback, outside the lock. Callback-side counters
// are atomic so the test thread can read them at any time.
class CDeliveryLog {
public:
    CDeliveryLog();
    ~CDeliveryLog();
    CDeliveryLog(const CDeliveryLog&) = delete;
    CDeliveryLog& operator=(const CDeliveryLog&) = delete;

    static void KX_PLAY_CALL Callback(long first, char* data, long length, FrameInfo* info, void* user,
                                      long last);

    std::vector<Delivery> Items();
    void Clear();
    // Waits until at least pictures pictures and samples sound samples arrived.
    bool WaitFor(size_t pictures, size_t samples, DWORD timeoutMs);
    // Called inside the callback (from Hook): WaitForReturn then waits until
    // this callback has stopped touching the log. A callback that closed its
    // own handle can be waited for no other way.
    void ArmReturn() { ResetEvent(Returned); }
    bool WaitForReturn(DWORD timeoutMs) { return WaitForSingleObject(Returned, timeoutMs) == WAIT_OBJECT_0; }

    // Set before playing; called on the decoding thread for each delivery.
    std::function<void(const Delivery&)> Hook;
    // When false, any delivery counts as a violation.
    std::atomic<bool> Allowed{true};
    std::atomic<int> Violations{0};
    std::atomic<int> Active{0};

private:
    HANDLE Returned;               // set as the callback's last act
    CRITICAL_SECTION Lock;
    CONDITION_VARIABLE Changed;
    std::vector<Delivery> Log;     // guarded by Lock
    size_t Pictures = 0;           // guarded by Lock
    size_t Samples = 0;            // guarded by Lock
};
