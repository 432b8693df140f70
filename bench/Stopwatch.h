// Wall-clock intervals from the performance counter. A value type, used on
// one thread; Ticks() may be called from any thread.
#pragma once

#include <cstdint>

class CStopwatch {
public:
    CStopwatch() { Restart(); }
    void Restart();
    double Seconds() const;
    // The raw counter, for instants taken on other threads.
    static int64_t Ticks();
    static double TicksToSeconds(int64_t ticks);
    int64_t StartTicks() const { return Started; }

private:
    int64_t Started = 0;
};
