#include "bench/ManyFilesRun.h"

#include "bench/BenchGraph.h"
#include "bench/ChildProcess.h"
#include "bench/ModuleFactory.h"
#include "bench/SampleTap.h"
#include "bench/Stopwatch.h"
#include "bench/ThreadCpuMeter.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cwchar>
#include <memory>

namespace {

constexpr double MB = 1024.0 * 1024.0;
// After the bound: how long stopping may take before a graph's thread is
// reported as stuck, and the parent's extra allowance for the child's start,
// its graphs' Load and its figures.
constexpr DWORD StopMarginMs = 10000;
constexpr DWORD ChildMarginMs = 60000;
constexpr DWORD SampleEveryMs = 100;
// Graph threads need little stack; the default 2 MB reservation each would
// show in the address-space figure as if the module had taken it.
constexpr SIZE_T GraphThreadStack = 256 * 1024;
// The goal: 16 files at once, clocked, every picture, under 1.5 GB.
constexpr uint32_t GoalFiles = 16;
constexpr double GoalAddressSpaceMB = 1536;

const char* OutcomeName(ManyOutcome outcome) {
    switch (outcome) {
        case ManyOutcome::Complete: return "EC_COMPLETE";
        case ManyOutcome::Aborted: return "aborted";
        case ManyOutcome::NotEnded: return "not ended";
        case ManyOutcome::NotBuilt: return "not built";
        case ManyOutcome::RunFailed: return "Run failed";
        case ManyOutcome::StuckInRun: return "stuck in Run";
        case ManyOutcome::StuckInStop: return "stuck in Stop";
    }
    return "?";
}

std::wstring RecordingPath(const std::wstring& folder, uint32_t index) {
    return folder + L"many_" + (index < 10 ? L"0" : L"") + std::to_wstring(index) + L".kxr";
}

struct HandleCloser {
    void operator()(HANDLE handle) const {
        if (handle) CloseHandle(handle);
    }
};
using UniqueHandle = std::unique_ptr<void, HandleCloser>;

// Where a graph's thread is; the fields of GraphSlot it wrote before a phase
// are published by the phase (release / acquire).
enum Phase : int { Waiting, InRun, Playing, InStop, Done };

// One graph of the child and everything its thread reports. The graph is
// built on the child's main thread and from then on belongs to the thread,
// which destroys it after Stop; the taps outlive it.
struct GraphSlot {
    CSampleTap Video;
    CSampleTap Audio;
    std::unique_ptr<CBenchGraph> Graph;
    HANDLE Start = nullptr;
    int64_t StartTicks = 0;      // written before Start is set
    DWORD BoundMs = 0;
    std::atomic<int> Where{Waiting};
    ManyOutcome Outcome = ManyOutcome::NotBuilt;
    HRESULT Code = S_OK;
    int64_t EndTicks = 0;
    double StopSeconds = 0;
};

// Keeps COM initialised on a graph thread for the thread's lifetime.
class CComThreadScope {
public:
    CComThreadScope() : Initialised(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {}
    ~CComThreadScope() {
        if (Initialised) CoUninitialize();
    }
    CComThreadScope(const CComThreadScope&) = delete;
    CComThreadScope& operator=(const CComThreadScope&) = delete;

private:
    bool Initialised;
};

DWORD WINAPI PlayGraph(void* parameter) {
    auto* slot = static_cast<GraphSlot*>(parameter);
    CComThreadScope com;
    // The main thread sets Start once every thread exists, or gives up on the
    // whole count; a thread that never sees it only tidies up.
    if (WaitForSingleObject(slot->Start, 60000) == WAIT_OBJECT_0) {
        slot->Where.store(InRun, std::memory_order_release);
        const HRESULT hr = slot->Graph->Run();
        slot->Where.store(Playing, std::memory_order_release);
        if (FAILED(hr)) {
            slot->Outcome = ManyOutcome::RunFailed;
            slot->Code = hr;
        } else {
            const double spentMs = 1000 * CStopwatch::TicksToSeconds(CStopwatch::Ticks() - slot->StartTicks);
            const DWORD left = spentMs < slot->BoundMs ? slot->BoundMs - static_cast<DWORD>(spentMs) : 0;
            switch (slot->Graph->WaitForEnd(left, &slot->Code)) {
                case GraphEnd::Complete: slot->Outcome = ManyOutcome::Complete; break;
                case GraphEnd::Aborted: slot->Outcome = ManyOutcome::Aborted; break;
                case GraphEnd::NotEnded: slot->Outcome = ManyOutcome::NotEnded; break;
            }
        }
        slot->EndTicks = CStopwatch::Ticks();
        slot->Where.store(InStop, std::memory_order_release);
        CStopwatch stop;
        slot->Graph->Stop();
        slot->StopSeconds = stop.Seconds();
    }
    slot->Graph.reset();
    slot->Where.store(Done, std::memory_order_release);
    return 0;
}

// Waits for every thread, at most until the deadline, sampling the address
// space meanwhile; the threads still running then are returned.
std::vector<size_t> WaitForThreads(const std::vector<UniqueHandle>& threads, int64_t startTicks, DWORD deadlineMs,
                                   CAddressSpaceMeter* meter) {
    std::vector<size_t> running;
    for (size_t i = 0; i < threads.size(); ++i) running.push_back(i);
    while (!running.empty()) {
        meter->Sample();
        std::vector<HANDLE> handles;
        for (size_t i : running) handles.push_back(threads[i].get());
        const DWORD result = WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE, SampleEveryMs);
        if (result < WAIT_OBJECT_0 + handles.size()) running.erase(running.begin() + (result - WAIT_OBJECT_0));
        if (1000 * CStopwatch::TicksToSeconds(CStopwatch::Ticks() - startTicks) >= deadlineMs) break;
    }
    meter->Sample();
    return running;
}

std::string MegaBytes(double bytes) {
    char text[32];
    std::snprintf(text, sizeof(text), "%.0f MB", bytes / MB);
    return text;
}

}  // namespace

bool ManyGraphFigures::Intact(const MediaPlan& plan) const {
    const uint64_t soundBytes = plan.Sound ? static_cast<uint64_t>(plan.DurationMs()) * 16 : 0;
    return Outcome == ManyOutcome::Complete && Pictures == plan.Frames && PicturesInOrder == plan.Frames &&
           SoundBytes == soundBytes && SoundInOrder == soundBytes;
}

bool ManyFilesFigures::Write(const std::wstring& path) const {
    FILE* file = _wfopen(path.c_str(), L"w");
    if (!file) return false;
    std::fprintf(file, "%llu %d %.6f %.6f %.6f\n", static_cast<unsigned long long>(Limit), LargeAddressAware ? 1 : 0,
                 Seconds, CpuSeconds, WallSeconds);
    for (const AddressSpaceUse& use : {Before, Peak}) {
        std::fprintf(file, "%llu %llu %llu %lu %llu\n", static_cast<unsigned long long>(use.InUse),
                     static_cast<unsigned long long>(use.Committed), static_cast<unsigned long long>(use.NoAccessReserve),
                     static_cast<unsigned long>(use.Highest), static_cast<unsigned long long>(use.WorkingSet));
    }
    std::fprintf(file, "%zu\n", Graphs.size());
    for (const ManyGraphFigures& graph : Graphs) {
        std::fprintf(file, "%d %ld %u %u %llu %llu %.4f %.4f %.4f\n", static_cast<int>(graph.Outcome), graph.Code,
                     graph.Pictures, graph.PicturesInOrder, static_cast<unsigned long long>(graph.SoundBytes),
                     static_cast<unsigned long long>(graph.SoundInOrder), graph.EndSeconds, graph.LastPictureSeconds,
                     graph.StopSeconds);
    }
    return std::fclose(file) == 0;
}

bool ManyFilesFigures::Read(const std::wstring& path) {
    FILE* file = _wfopen(path.c_str(), L"r");
    if (!file) return false;
    unsigned long long limit = 0;
    int aware = 0;
    bool good = std::fscanf(file, "%llu %d %lf %lf %lf", &limit, &aware, &Seconds, &CpuSeconds, &WallSeconds) == 5;
    Limit = limit;
    LargeAddressAware = aware != 0;
    for (AddressSpaceUse* use : {&Before, &Peak}) {
        unsigned long long inUse = 0, committed = 0, noAccess = 0, workingSet = 0;
        unsigned long highest = 0;
        good = good && std::fscanf(file, "%llu %llu %llu %lu %llu", &inUse, &committed, &noAccess, &highest,
                                   &workingSet) == 5;
        *use = AddressSpaceUse{inUse, committed, noAccess, highest, workingSet};
    }
    size_t count = 0;
    good = good && std::fscanf(file, "%zu", &count) == 1 && count <= 64;
    Graphs.assign(good ? count : 0, ManyGraphFigures{});
    for (ManyGraphFigures& graph : Graphs) {
        int outcome = 0;
        long code = 0;
        unsigned long long soundBytes = 0, soundInOrder = 0;
        good = good && std::fscanf(file, "%d %ld %u %u %llu %llu %lf %lf %lf", &outcome, &code, &graph.Pictures,
                                   &graph.PicturesInOrder, &soundBytes, &soundInOrder, &graph.EndSeconds,
                                   &graph.LastPictureSeconds, &graph.StopSeconds) == 9;
        graph.Outcome = static_cast<ManyOutcome>(outcome);
        graph.Code = code;
        graph.SoundBytes = soundBytes;
        graph.SoundInOrder = soundInOrder;
    }
    std::fclose(file);
    return good;
}

CManyFilesRun::CManyFilesRun(CBenchReport* report, const std::wstring& scratch) : Report(report), Scratch(scratch) {}

DWORD CManyFilesRun::BoundMs(const MediaPlan& plan, uint32_t files, bool clocked) {
    // Clocked: the recording's own length and a margin for the start. Unclocked:
    // a margin and 4 ms per picture in total, several times what two busy
    // cores need, so that a graph still going at the bound has stalled.
    return clocked ? plan.DurationMs() + 20000 : 15000 + files * plan.Frames * 4;
}

void CManyFilesRun::Measure(const MediaPlan& plan, const std::vector<uint32_t>& counts, bool clocked) {
    if (counts.empty()) return;
    const uint32_t most = *std::max_element(counts.begin(), counts.end());
    std::string error;
    uint32_t written = 0;
    for (; written < most; ++written) {
        if (!WriteBenchRecording(RecordingPath(Scratch, written), plan, &error)) break;
    }
    if (written < most) {
        Report->Warn("many files: " + error);
        ChildFailed = true;
    }
    const std::wstring out = Scratch + L"many.txt";
    for (const uint32_t files : counts) {
        if (files == 0 || files > written || files > 64) continue;
        std::fprintf(stderr, "kxbench: %u files at once, %s...\n", files, clocked ? "clocked" : "unclocked");
        const DWORD bound = BoundMs(plan, files, clocked);
        DeleteFileW(out.c_str());
        // The folder goes without its closing backslash, which would escape the quote.
        const std::wstring arguments = L"--many-child \"" + out + L"\" \"" + Scratch.substr(0, Scratch.size() - 1) + L"\" " +
                                       std::to_wstring(files) +
                                       (clocked ? L" clocked " : L" unclocked ") + std::to_wstring(bound) + L" " +
                                       std::to_wstring(plan.Width) + L" " + std::to_wstring(plan.Height) + L" " +
                                       std::to_wstring(plan.Fps) + L" " + std::to_wstring(plan.Frames);
        const ChildEnd child = RunBenchChild(arguments, bound + StopMarginMs + ChildMarginMs);
        ManyFilesFigures figures;
        const bool read = figures.Read(out);
        DeleteFileW(out.c_str());
        char what[96];
        std::snprintf(what, sizeof(what), "many files: %u at once, %s: ", files, clocked ? "clocked" : "unclocked");
        if (child == ChildEnd::Killed) Report->Warn(std::string(what) + "the child overran its bound and was ended");
        if (!read || figures.Graphs.size() != files) {
            Report->Warn(std::string(what) + "the child gave no figures");
            ChildFailed = true;
            continue;
        }
        AddFigures(plan, files, clocked, bound, figures);
    }
    for (uint32_t i = 0; i < written; ++i) DeleteFileW(RecordingPath(Scratch, i).c_str());
}

void CManyFilesRun::AddFigures(const MediaPlan& plan, uint32_t files, bool clocked, DWORD boundMs,
                           const ManyFilesFigures& figures) {
    char text[256];
    std::snprintf(text, sizeof(text), "8. many files at once, %ux%u, %u pictures at %u/s with sound, %s, bound %.0f s",
                  plan.Width, plan.Height, plan.Frames, plan.Fps, clocked ? "clocked (real time)" : "unclocked",
                  boundMs / 1000.0);
    const std::string section = text;
    const std::string name = std::to_string(files) + " files: ";

    int intact = 0, counts[7] = {};
    uint64_t pictures = 0, inOrder = 0;
    std::string faults;
    for (size_t i = 0; i < figures.Graphs.size(); ++i) {
        const ManyGraphFigures& graph = figures.Graphs[i];
        pictures += graph.Pictures;
        inOrder += graph.PicturesInOrder;
        ++counts[static_cast<int>(graph.Outcome)];
        if (graph.Intact(plan)) {
            ++intact;
            continue;
        }
        const uint64_t soundBytes = static_cast<uint64_t>(plan.DurationMs()) * 16;
        std::snprintf(text, sizeof(text), "#%zu %s", i, OutcomeName(graph.Outcome));
        faults += faults.empty() ? "" : "; ";
        faults += text;
        if (graph.Outcome == ManyOutcome::Aborted || graph.Outcome == ManyOutcome::NotBuilt ||
            graph.Outcome == ManyOutcome::RunFailed) {
            std::snprintf(text, sizeof(text), " 0x%08lX", graph.Code);
            faults += text;
        }
        std::snprintf(text, sizeof(text), " at %.1f s, pictures %u (%u in order) of %u, sound %.0f%% (%.0f%% in order)",
                      graph.EndSeconds, graph.Pictures, graph.PicturesInOrder, plan.Frames,
                      soundBytes ? 100.0 * graph.SoundBytes / soundBytes : 0, soundBytes ? 100.0 * graph.SoundInOrder / soundBytes : 0);
        faults += text;
        if (graph.Pictures < plan.Frames && graph.LastPictureSeconds > 0) {
            std::snprintf(text, sizeof(text), ", last picture at %.1f s", graph.LastPictureSeconds);
            faults += text;
        }
        if (graph.StopSeconds >= 1) {
            std::snprintf(text, sizeof(text), ", Stop took %.1f s", graph.StopSeconds);
            faults += text;
        }
    }
    std::snprintf(text, sizeof(text),
                  "of %u; EC_COMPLETE %d, aborted %d, not ended in the bound %d, not built %d, Run failed %d, stuck in "
                  "Run %d, stuck in Stop %d",
                  files, counts[0], counts[1], counts[2], counts[3], counts[4], counts[5], counts[6]);
    Report->Add(section, name + "intact (every picture, all sound, in order)", intact, "files", text);
    Report->Add(section, name + "pictures delivered in order",
                 100.0 * static_cast<double>(inOrder) / (static_cast<double>(files) * plan.Frames), "%",
                 std::to_string(inOrder) + " of " + std::to_string(static_cast<uint64_t>(files) * plan.Frames));
    std::snprintf(text, sizeof(text), "reserved + committed; %s before the graphs; of %s (%s); highest address 0x%08lX; "
                  "%s reserved no-access at the start, not counted",
                  MegaBytes(static_cast<double>(figures.Before.InUse)).c_str(),
                  MegaBytes(static_cast<double>(figures.Limit)).c_str(),
                  figures.LargeAddressAware ? "large-address-aware" : "not large-address-aware",
                  static_cast<unsigned long>(figures.Peak.Highest),
                  MegaBytes(static_cast<double>(figures.Before.NoAccessReserve)).c_str());
    Report->Add(section, name + "peak address space in use", static_cast<double>(figures.Peak.InUse) / MB, "MB", text);
    Report->Add(section, name + "peak committed", static_cast<double>(figures.Peak.Committed) / MB, "MB",
                 MegaBytes(static_cast<double>(figures.Before.Committed)) + " before the graphs");
    Report->Add(section, name + "peak working set", static_cast<double>(figures.Peak.WorkingSet) / MB, "MB",
                 MegaBytes(static_cast<double>(figures.Before.WorkingSet)) + " before the graphs");
    std::snprintf(text, sizeof(text), "%llu pictures in %.1f s, start to the last end", static_cast<unsigned long long>(pictures),
                  figures.Seconds);
    Report->Add(section, name + "pictures per second in total", figures.Seconds > 0 ? pictures / figures.Seconds : 0,
                 "pictures/s", text);
    std::snprintf(text, sizeof(text), "over %.1f s including Stop; 2 cores are 200%%; wineserver not included",
                  figures.WallSeconds);
    Report->Add(section, name + "process CPU", figures.WallSeconds > 0 ? 100 * figures.CpuSeconds / figures.WallSeconds : 0,
                 "% of a core", text);
    if (!faults.empty()) {
        Report->Warn("many files, " + std::to_string(files) + (clocked ? " clocked: " : " unclocked: ") + faults);
    }
    Results.push_back(Result{files, clocked, intact, static_cast<double>(figures.Peak.InUse) / MB});
}

void CManyFilesRun::Conclude() {
    for (const Result& result : Results) {
        if (result.Files != GoalFiles) continue;
        char detail[128];
        std::snprintf(detail, sizeof(detail), "%d of %u intact, peak address space %.0f MB", result.Intact, result.Files,
                      result.PeakInUse);
        if (result.Clocked) {
            Report->Judge("16 files at once, clocked: every picture and all sound, under 1.5 GB of address space",
                           result.Intact == static_cast<int>(result.Files) && result.PeakInUse < GoalAddressSpaceMB, detail);
        } else {
            Report->Judge("16 files at once, unclocked: every picture and all sound",
                           result.Intact == static_cast<int>(result.Files), detail);
        }
    }
}

int CManyFilesRun::Child(int count, wchar_t** values) {
    if (count != 11) return 2;
    const std::wstring out = values[2];
    const std::wstring folder = std::wstring(values[3]) + L"\\";
    const uint32_t files = static_cast<uint32_t>(_wtoi(values[4]));
    const bool clocked = std::wcscmp(values[5], L"clocked") == 0;
    const DWORD bound = static_cast<DWORD>(_wtoi(values[6]));
    MediaPlan plan;
    plan.Width = static_cast<uint32_t>(_wtoi(values[7]));
    plan.Height = static_cast<uint32_t>(_wtoi(values[8]));
    plan.Fps = static_cast<uint32_t>(_wtoi(values[9]));
    plan.Frames = static_cast<uint32_t>(_wtoi(values[10]));
    if (files == 0 || files > MAXIMUM_WAIT_OBJECTS) return 2;

    CModuleFactory module;
    if (!module.Open()) return 3;
    ManyFilesFigures figures;
    figures.Limit = CAddressSpaceMeter::Limit();
    figures.LargeAddressAware = CAddressSpaceMeter::LargeAddressAware();
    CAddressSpaceMeter meter;
    figures.Before = meter.Sample();

    const UniqueHandle start(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!start) return 4;
    std::vector<std::unique_ptr<GraphSlot>> slots;
    for (uint32_t i = 0; i < files; ++i) {
        auto slot = std::make_unique<GraphSlot>();
        slot->Video.CheckContent(TapContent::TestPictures, plan.Width, plan.Height);
        slot->Audio.CheckContent(TapContent::TestTone);
        slot->Start = start.get();
        slot->BoundMs = bound;
        KxGraphOptions options;
        options.Clock = clocked;
        options.VideoTap = &slot->Video;
        options.AudioTap = &slot->Audio;
        slot->Graph = std::make_unique<CBenchGraph>();
        slot->Code = slot->Graph->BuildModule(&module, RecordingPath(folder, i), options);
        if (FAILED(slot->Code)) slot->Graph.reset();
        slots.push_back(std::move(slot));
    }
    std::vector<UniqueHandle> threads;
    std::vector<GraphSlot*> threaded;
    for (auto& slot : slots) {
        if (!slot->Graph) continue;
        HANDLE thread = CreateThread(nullptr, GraphThreadStack, PlayGraph, slot.get(), STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
        if (!thread) {
            slot->Outcome = ManyOutcome::RunFailed;
            slot->Code = HRESULT_FROM_WIN32(GetLastError());
            slot->Graph.reset();
            continue;
        }
        threads.emplace_back(thread);
        threaded.push_back(slot.get());
    }
    meter.Sample();

    const double cpuBefore = CThreadCpuMeter::ProcessSeconds();
    const int64_t startTicks = CStopwatch::Ticks();
    for (auto& slot : slots) slot->StartTicks = startTicks;
    SetEvent(start.get());
    const std::vector<size_t> stuck = WaitForThreads(threads, startTicks, bound + StopMarginMs, &meter);
    figures.WallSeconds = CStopwatch::TicksToSeconds(CStopwatch::Ticks() - startTicks);
    figures.CpuSeconds = CThreadCpuMeter::ProcessSeconds() - cpuBefore;
    figures.Peak = meter.Peak();

    // A stuck thread may still write its slot; only what its phase has
    // published is read from it.
    std::vector<bool> isStuck(slots.size(), false);
    for (size_t i : stuck) {
        for (size_t k = 0; k < slots.size(); ++k) isStuck[k] = isStuck[k] || slots[k].get() == threaded[i];
    }
    const int64_t now = CStopwatch::Ticks();
    int64_t lastEnd = startTicks;
    for (size_t k = 0; k < slots.size(); ++k) {
        const GraphSlot& slot = *slots[k];
        ManyGraphFigures graph;
        int64_t endTicks = slot.EndTicks;
        graph.Outcome = slot.Outcome;
        graph.Code = slot.Code;
        graph.StopSeconds = slot.StopSeconds;
        if (isStuck[k]) {
            const bool inStop = slot.Where.load(std::memory_order_acquire) >= InStop;
            graph.Outcome = inStop ? ManyOutcome::StuckInStop : ManyOutcome::StuckInRun;
            graph.Code = S_OK;
            endTicks = inStop ? slot.EndTicks : now;
            graph.StopSeconds = inStop ? CStopwatch::TicksToSeconds(now - slot.EndTicks) : 0;
        }
        graph.Pictures = slot.Video.Count();
        graph.PicturesInOrder = static_cast<uint32_t>(slot.Video.InOrder());
        graph.SoundBytes = slot.Audio.Bytes();
        graph.SoundInOrder = slot.Audio.InOrder();
        if (endTicks) {
            graph.EndSeconds = CStopwatch::TicksToSeconds(endTicks - startTicks);
            lastEnd = std::max(lastEnd, endTicks);
        }
        if (slot.Video.LastTicks()) graph.LastPictureSeconds = CStopwatch::TicksToSeconds(slot.Video.LastTicks() - startTicks);
        figures.Graphs.push_back(graph);
    }
    figures.Seconds = CStopwatch::TicksToSeconds(lastEnd - startTicks);
    const bool written = figures.Write(out);
    if (!stuck.empty()) {
        // The stuck threads hold their graphs; neither can be torn down, so the
        // child ends here without running any destructor.
        std::fflush(nullptr);
        TerminateProcess(GetCurrentProcess(), 7);
    }
    return written ? 0 : 5;
}
