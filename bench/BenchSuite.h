// The seven measurements of the bench, run in one process on one machine so
// that the figures can be compared: per picture size the module's unclocked
// delivery, the copy limit, the platform's AVI source, the stand-in
// library alone, open and seek latency; at the largest size the steady-state
// allocations and peak memory (in a child process of their own) and the CPU
// cost of clocked real-time playback. Every figure goes to the report; the
// throughput figures also to the chart.
//
// Used on the bench's main thread, COM initialised (multithreaded).
#pragma once

#include "bench/BenchMedia.h"
#include "bench/BenchReport.h"
#include "bench/ModuleFactory.h"

#include <string>
#include <vector>

struct SuiteOptions {
    bool Smoke = false;
    int Repeats = 3;
    uint32_t CpuSeconds = 20;
    std::wstring ChartPath;
};

struct SizeFigures {
    MediaPlan Plan;
    double ModulePictures = 0;   // per second, Load to EC_COMPLETE
    double ModuleLongPictures = 0;  // the same over a recording LongRunFactor times longer
    double CopyPictures = 0;     // per second, two copies of a picture
    double AviPictures = 0;      // per second, Load to EC_COMPLETE
    double LibraryPictures = 0;  // per second, decoding alone
};

class CBenchSuite {
public:
    CBenchSuite(const SuiteOptions& options, CBenchReport* report, CModuleFactory* module);

    // Items 1 to 5 for one picture size.
    void MeasureSize(const MediaPlan& plan);
    // Item 5's backward step alone, on a recording of its own.
    void MeasureStep(const MediaPlan& plan);
    // The Media Foundation source reader's unclocked pictures a second
    // beside the DirectShow graph's, on one recording.
    void MeasureMf(const MediaPlan& plan);
    // Item 6: steady-state allocations and peak memory, in a child process.
    void MeasureMemory(const MediaPlan& plan);
    // Item 7: CPU share of clocked real-time playback.
    void MeasureCpu(const MediaPlan& plan);
    // Judges the targets and draws the chart from what was measured.
    void Conclude();

    // The child's side of MeasureMemory: "--memory-child RECORDING FRAMES OUT".
    static int MemoryChild(const std::wstring& recording, uint32_t frames, const std::wstring& out);

private:
    struct ModuleTimes {
        double Seconds = 0;       // Load to EC_COMPLETE
        double Load = 0;          // Load to return
        double Running = 0;       // Run to EC_COMPLETE
        double LibraryBusy = 0;   // CPU seconds of the library's thread while running
        double WorkersBusy = 0;   // CPU seconds of the module's threads while running
    };
    bool ModuleRun(const std::wstring& recording, const MediaPlan& plan, ModuleTimes* times);
    bool AviRun(const std::wstring& avi, const MediaPlan& plan, double* seconds);
    double CopyLimit(const MediaPlan& plan);
    void SeekLatency(const std::wstring& recording, const MediaPlan& plan, const std::string& section);
    // A paused graph stepped back a picture at a time, as players step: the
    // seek to the first sample of the new segment.
    void StepLatency(const std::wstring& recording, const MediaPlan& plan, const std::string& section);
    DWORD RunTimeoutMs(const MediaPlan& plan) const;

    static constexpr uint32_t LongRunFactor = 5;
    // The 32-bit module runs the playback library in this process; the
    // 64-bit one in its helper, whose work this process cannot measure.
    static constexpr bool LibraryInProcess = sizeof(void*) == 4;

    SuiteOptions Options;
    CBenchReport* Report;
    CModuleFactory* Module;
    std::vector<SizeFigures> Sizes;
    std::wstring Scratch;
    double CpuShare = -1;
    double AllocationsPerPicture = -1;
    double PeakBytes = -1;
    double PeakBound = -1;
};
