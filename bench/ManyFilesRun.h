// Many recordings at once in one process, as a multi-camera viewer plays
// them: N graphs of the module, each Load -> " Video " and " Audio " ->
// Sample Grabber -> Null Renderer, all started together, either unclocked (no
// reference clock) or clocked (the graph's default clock, real time). Per
// graph: how it ended and whether every picture and all sound arrived, in
// order; for the process: the peak address space in use and working set,
// pictures per second in total and the CPU share.
//
// Each count and mode runs in a child process of its own ("--many-child"):
// every count starts from a fresh 32-bit address space, so one count's
// leftovers cannot push the next one against the wall, and a graph that never
// stops cannot hold up the bench. In the child each graph is run, waited for
// and stopped on a thread of its own, as a viewer's graphs are driven
// independently: a Run or Stop that blocks (the preroll wait, Wine's graph
// lock) then holds up only its own graph, and the child's main thread stays
// free to sample the address space. Every wait is bounded: a graph that has
// not ended by the bound is stopped and counted, a thread still stuck in Run
// or Stop some seconds later is reported and the child ends itself; the
// parent ends a child that overruns its own, wider bound.
//
// Threads: the parent's side (Measure, Conclude) runs on the bench's main
// thread; Child runs on the child's main thread and starts the graph threads,
// each of which touches only its own graph's slot (see ManyFilesRun.cpp).
#pragma once

#include "bench/AddressSpaceMeter.h"
#include "bench/BenchMedia.h"
#include "bench/BenchReport.h"

#include <windows.h>

#include <string>
#include <vector>

// How one graph of a many-files run came out.
// NotBuilt: Load, a connection or the graph's thread failed; Died: the
// process died before the graph ended.
enum class ManyOutcome { Complete, Aborted, NotEnded, NotBuilt, RunFailed, StuckInRun, StuckInStop, Died };

struct ManyGraphFigures {
    ManyOutcome Outcome = ManyOutcome::NotBuilt;
    HRESULT Code = S_OK;             // the abort's or the failed call's result
    uint32_t Pictures = 0;
    uint32_t PicturesInOrder = 0;
    uint64_t SoundBytes = 0;
    uint64_t SoundInOrder = 0;
    double EndSeconds = 0;           // start to the end (or to the bound)
    double LastPictureSeconds = 0;   // start to the last picture, 0 without any
    double StopSeconds = 0;          // how long Stop took
    bool Intact(const MediaPlan& plan) const;
};

struct ManyFilesFigures {
    std::vector<ManyGraphFigures> Graphs;
    AddressSpaceUse Before;     // after the module was loaded, before any graph
    AddressSpaceUse Peak;       // see CAddressSpaceMeter::Peak
    uint64_t Limit = 0;
    bool LargeAddressAware = false;
    double Seconds = 0;         // start to the last graph's end
    double CpuSeconds = 0;      // the process's CPU time over the run, Stop included
    double WallSeconds = 0;     // start until every thread was done (or given up on)

    bool Write(const std::wstring& path) const;
    bool Read(const std::wstring& path);
};

class CManyFilesRun {
public:
    CManyFilesRun(CBenchReport* report, const std::wstring& scratch);

    // Writes as many recordings of the plan as the largest count needs, runs
    // each count in its own child for the mode, and reports the figures.
    void Measure(const MediaPlan& plan, const std::vector<uint32_t>& counts, bool clocked);
    // Judges the scale goals from the counts measured.
    void Conclude();
    // Whether a child gave no figures at all (the run itself broke).
    bool Broken() const { return ChildFailed; }

    // The child's side: "--many-child OUT FOLDER FILES clocked|unclocked
    // BOUND_MS WIDTH HEIGHT FPS FRAMES".
    static int Child(int count, wchar_t** values);

private:
    static DWORD BoundMs(const MediaPlan& plan, uint32_t files, bool clocked);
    void AddFigures(const MediaPlan& plan, uint32_t files, bool clocked, DWORD boundMs, const ManyFilesFigures& figures);

    struct Result {
        uint32_t Files;
        bool Clocked;
        int Intact;
        double PeakInUse;
    };

    CBenchReport* Report;
    std::wstring Scratch;
    std::vector<Result> Results;
    bool ChildFailed = false;
};
