#include "bench/Stopwatch.h"

#include <windows.h>

namespace {

double Frequency() {
    static const double frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return static_cast<double>(f.QuadPart);
    }();
    return frequency;
}

}  // namespace

void CStopwatch::Restart() { Started = Ticks(); }

double CStopwatch::Seconds() const { return TicksToSeconds(Ticks() - Started); }

int64_t CStopwatch::Ticks() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

double CStopwatch::TicksToSeconds(int64_t ticks) { return static_cast<double>(ticks) / Frequency(); }
