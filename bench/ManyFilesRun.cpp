#include "bench/ManyFilesRun.h"

#include "bench/BenchGraph.h"
#include "bench/ChildProcess.h"
#include "bench/ModuleFactory.h"
#include "bench/SampleTap.h"
#include "bench/Stopwatch.h"
#include "bench/ThreadCpuMeter.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <exception>
#include <memory>

namespace {

constexpr double MB = 1024.0 * 1024.0;
// After the bound: how long stopping may take before a graph's thread is
// reported as stuck, and the parent's extra allowance for the child's start,
// its graphs' Load and its figures.
constexpr DWORD StopMarginMs = 10000;
constexpr DWORD ChildMarginMs = 60000;
constexpr DWORD SampleEveryMs = 100;
constexpr int SnapshotEvery = 10;
constexpr UINT StuckExitCode = 7;
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
        case ManyOutcome::NotBuilt: return "not set up";
        case ManyOutcome::RunFailed: return "Run failed";
        case ManyOutcome::StuckInRun: return "stuck in Run";
        case ManyOutcome::StuckInStop: return "stuck in Stop";
        case ManyOutcome::Died: return "lost with the process";
    }
    return "?";
}

std::wstring CrashNotePathFor(const std::wstring& out) { return out + L".crash"; }

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

// Figures of one graph as far as its thread has published them. At the
// final collection a thread that has not finished is stuck; in a snapshot,
// taken while the graphs play in case the process dies, a graph that has not
// ended yet counts as lost with it.
ManyGraphFigures Collect(const GraphSlot& slot, int64_t startTicks, int64_t now, bool final) {
    ManyGraphFigures graph;
    const int where = slot.Where.load(std::memory_order_acquire);
    int64_t endTicks = now;
    if (where >= InStop) {
        graph.Outcome = slot.Outcome;
        graph.Code = slot.Code;
        endTicks = slot.EndTicks;
        graph.StopSeconds = where == Done ? slot.StopSeconds : CStopwatch::TicksToSeconds(now - slot.EndTicks);
        if (where == InStop && final) graph.Outcome = ManyOutcome::StuckInStop;
    } else {
        graph.Outcome = final ? ManyOutcome::StuckInRun : ManyOutcome::Died;
    }
    graph.Pictures = slot.Video.Count();
    graph.PicturesInOrder = static_cast<uint32_t>(slot.Video.InOrder());
    graph.SoundBytes = slot.Audio.Bytes();
    graph.SoundInOrder = slot.Audio.InOrder();
    if (endTicks) graph.EndSeconds = CStopwatch::TicksToSeconds(endTicks - startTicks);
    if (slot.Video.LastTicks()) graph.LastPictureSeconds = CStopwatch::TicksToSeconds(slot.Video.LastTicks() - startTicks);
    return graph;
}

// Where the crash note goes; set before the graphs are built.
wchar_t CrashNotePath[MAX_PATH];

// The last word of a child that faults: the exception, the module it came
// from and the offset there, formatted on the stack and written with plain
// system calls (the heap may be what failed). The process then ends with
// the exception's code, and Wine's debugger, which would otherwise keep the
// dead process and its files, is not started.
// The file name of the module holding an address, and the address's offset
// in it; "unknown module" and the address itself outside every module.
const char* ModuleOf(uintptr_t address, char (&path)[MAX_PATH], uintptr_t* offset) {
    HMODULE owner = nullptr;
    *offset = address;
    std::snprintf(path, MAX_PATH, "unknown module");
    if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           reinterpret_cast<const char*>(address), &owner)) {
        GetModuleFileNameA(owner, path, MAX_PATH);
        *offset = address - reinterpret_cast<uintptr_t>(owner);
    }
    const char* name = path;
    for (const char* c = path; *c; ++c) {
        if (*c == '\\' || *c == '/') name = c + 1;
    }
    return name;
}

// Adds a line to the crash note.
void WriteCrashNote(const char* text, int length) {
    if (length <= 0) return;
    const HANDLE file = CreateFileW(CrashNotePath, FILE_APPEND_DATA, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, text, static_cast<DWORD>(std::min<size_t>(static_cast<size_t>(length), std::strlen(text))), &written,
              nullptr);
    CloseHandle(file);
}

// The last word of a child that faults: the exception, where it happened
// and where the faulting thread began, formatted on the stack and written
// with plain system calls (the heap may be what failed). The process then
// ends with the exception's code, and Wine's debugger, which would otherwise
// keep the dead process and its files, is not started.
LONG WINAPI NoteCrash(EXCEPTION_POINTERS* pointers) {
    const EXCEPTION_RECORD* record = pointers->ExceptionRecord;
    char faultPath[MAX_PATH], startPath[MAX_PATH];
    uintptr_t faultOffset = 0, startOffset = 0;
    const char* fault = ModuleOf(reinterpret_cast<uintptr_t>(record->ExceptionAddress), faultPath, &faultOffset);
    const char* start = ModuleOf(CThreadCpuMeter::StartAddress(GetCurrentThread()), startPath, &startOffset);
    char text[3 * MAX_PATH];
    WriteCrashNote(text, std::snprintf(text, sizeof(text),
                                       "exception 0x%08lX at %s+0x%lX accessing 0x%08lX, on a thread started at %s+0x%lX",
                                       record->ExceptionCode, fault, static_cast<unsigned long>(faultOffset),
                                       record->NumberParameters >= 2
                                           ? static_cast<unsigned long>(record->ExceptionInformation[1])
                                           : 0ul,
                                       start, static_cast<unsigned long>(startOffset)));
    return EXCEPTION_EXECUTE_HANDLER;
}

// The same for abort(), where a C++ exception that no one catches ends in
// every module of the process (each carries its own C++ runtime, all share
// the C runtime): the thread it happened on, by where that thread began.
void NoteAbort(int) {
    char path[MAX_PATH];
    uintptr_t offset = 0;
    const char* start = ModuleOf(CThreadCpuMeter::StartAddress(GetCurrentThread()), path, &offset);
    char text[2 * MAX_PATH];
    WriteCrashNote(text, std::snprintf(text, sizeof(text), "abort() on a thread started at %s+0x%lX", start,
                                       static_cast<unsigned long>(offset)));
}

// This executable's own runtime tells when the exception was its own.
void NoteTerminate() {
    char text[64];
    WriteCrashNote(text, std::snprintf(text, sizeof(text), "an uncaught C++ exception in kxbench itself; "));
    std::abort();
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
    // Written aside and then put in place, so that a process dying meanwhile
    // leaves the previous figures whole.
    const std::wstring part = path + L".part";
    FILE* file = _wfopen(part.c_str(), L"w");
    if (!file) return false;
    std::fprintf(file, "%llu %d %.6f %.6f %.6f\n", static_cast<unsigned long long>(Limit), LargeAddressAware ? 1 : 0,
                 Seconds, CpuSeconds, WallSeconds);
    for (const AddressSpaceUse& use : {Before, Peak}) {
        std::fprintf(file, "%llu %llu %llu %llu\n", static_cast<unsigned long long>(use.InUse),
                     static_cast<unsigned long long>(use.Committed), static_cast<unsigned long long>(use.NoAccessReserve),
                     static_cast<unsigned long long>(use.WorkingSet));
    }
    std::fprintf(file, "%zu\n", Graphs.size());
    for (const ManyGraphFigures& graph : Graphs) {
        std::fprintf(file, "%d %ld %u %u %llu %llu %.4f %.4f %.4f\n", static_cast<int>(graph.Outcome), graph.Code,
                     graph.Pictures, graph.PicturesInOrder, static_cast<unsigned long long>(graph.SoundBytes),
                     static_cast<unsigned long long>(graph.SoundInOrder), graph.EndSeconds, graph.LastPictureSeconds,
                     graph.StopSeconds);
    }
    return std::fclose(file) == 0 && MoveFileExW(part.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
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
        good = good && std::fscanf(file, "%llu %llu %llu %llu", &inUse, &committed, &noAccess, &workingSet) == 4;
        *use = AddressSpaceUse{inUse, committed, noAccess, workingSet};
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
                                   &graph.LastPictureSeconds, &graph.StopSeconds) == 9 &&
               outcome >= 0 && outcome <= static_cast<int>(ManyOutcome::Died);
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
        DWORD exitCode = 0;
        const CStopwatch childTime;
        const ChildEnd child = RunBenchChild(arguments, bound + StopMarginMs + ChildMarginMs, &exitCode);
        const double childSeconds = childTime.Seconds();
        ManyFilesFigures figures;
        const bool read = figures.Read(out);
        std::string crash;
        if (FILE* note = _wfopen(CrashNotePathFor(out).c_str(), L"r")) {
            char line[512] = {};
            if (std::fgets(line, sizeof(line), note)) crash = line;
            std::fclose(note);
        }
        DeleteFileW(out.c_str());
        DeleteFileW(CrashNotePathFor(out).c_str());
        char what[96];
        std::snprintf(what, sizeof(what), "many files: %u at once, %s: ", files, clocked ? "clocked" : "unclocked");
        if (child == ChildEnd::Killed) Report->Warn(std::string(what) + "the child overran its bound and was ended");
        if (child == ChildEnd::Ended && exitCode != 0 && exitCode != StuckExitCode) {
            char text[96];
            std::snprintf(text, sizeof(text), "the process died %.1f s after it was started, exit code 0x%lX", childSeconds,
                          exitCode);
            Report->Warn(std::string(what) + text + (crash.empty() ? "" : ": " + crash) +
                         (read ? "; figures from the last snapshot before" : ""));
        }
        // Graphs the dead process never came to were lost with it.
        if (read && child == ChildEnd::Ended && exitCode != 0 && figures.Graphs.size() < files) {
            ManyGraphFigures lost;
            lost.Outcome = ManyOutcome::Died;
            figures.Graphs.resize(files, lost);
        }
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

    int intact = 0, counts[8] = {};
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
                  "of %u; EC_COMPLETE %d, aborted %d, not ended in the bound %d, not set up %d, Run failed %d, stuck in "
                  "Run %d, stuck in Stop %d, lost with the process %d",
                  files, counts[0], counts[1], counts[2], counts[3], counts[4], counts[5], counts[6], counts[7]);
    Report->Add(section, name + "intact (every picture, all sound, in order)", intact, "files", text);
    Report->Add(section, name + "pictures delivered in order",
                 100.0 * static_cast<double>(inOrder) / (static_cast<double>(files) * plan.Frames), "%",
                 std::to_string(inOrder) + " of " + std::to_string(static_cast<uint64_t>(files) * plan.Frames));
    std::snprintf(text, sizeof(text), "reserved + committed; %s before the graphs; of %s (%s); "
                  "%s reserved no-access at the start, not counted",
                  MegaBytes(static_cast<double>(figures.Before.InUse)).c_str(),
                  MegaBytes(static_cast<double>(figures.Limit)).c_str(),
                  figures.LargeAddressAware ? "large-address-aware" : "not large-address-aware",
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
    Report->Add(section, name + "process CPU",
                figures.WallSeconds > 0 ? std::max(0.0, 100 * figures.CpuSeconds / figures.WallSeconds) : 0,
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
    const std::wstring crashNote = CrashNotePathFor(out);
    if (crashNote.size() >= MAX_PATH) return 2;
    crashNote.copy(CrashNotePath, crashNote.size());
    SetUnhandledExceptionFilter(NoteCrash);
    std::signal(SIGABRT, NoteAbort);
    std::set_terminate(NoteTerminate);

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
    std::vector<UniqueHandle> threads;
    // Until the graphs start, times count from the first Load.
    double cpuBefore = CThreadCpuMeter::ProcessSeconds();
    int64_t startTicks = CStopwatch::Ticks();
    // The figures so far, written after each graph is built and about once a
    // second while they play, in case the process dies; and at the end.
    auto collect = [&](bool final) {
        const int64_t now = CStopwatch::Ticks();
        figures.WallSeconds = CStopwatch::TicksToSeconds(now - startTicks);
        figures.CpuSeconds = CThreadCpuMeter::ProcessSeconds() - cpuBefore;
        figures.Peak = meter.Peak();
        figures.Graphs.clear();
        figures.Seconds = 0;
        for (const auto& slot : slots) {
            figures.Graphs.push_back(Collect(*slot, startTicks, now, final));
            figures.Seconds = std::max(figures.Seconds, figures.Graphs.back().EndSeconds);
        }
        return figures.Write(out);
    };
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
        HANDLE thread = nullptr;
        if (SUCCEEDED(slot->Code)) {
            thread = CreateThread(nullptr, GraphThreadStack, PlayGraph, slot.get(), STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
            if (!thread) slot->Code = HRESULT_FROM_WIN32(GetLastError());
        }
        if (thread) {
            threads.emplace_back(thread);
        } else {
            slot->Graph.reset();
            slot->Where = Done;
        }
        slots.push_back(std::move(slot));
        meter.Sample();
        collect(false);
    }

    cpuBefore = CThreadCpuMeter::ProcessSeconds();
    startTicks = CStopwatch::Ticks();
    for (auto& slot : slots) slot->StartTicks = startTicks;
    SetEvent(start.get());
    // Each graph's thread ends within the bound and the stop margin unless
    // it is stuck; meanwhile the address space is sampled.
    std::vector<HANDLE> running;
    for (const UniqueHandle& thread : threads) running.push_back(thread.get());
    const double deadline = (bound + StopMarginMs) / 1000.0;
    int samples = 0;
    while (!running.empty() && CStopwatch::TicksToSeconds(CStopwatch::Ticks() - startTicks) < deadline) {
        meter.Sample();
        if (samples++ % SnapshotEvery == 0) collect(false);
        const DWORD result = WaitForMultipleObjects(static_cast<DWORD>(running.size()), running.data(), FALSE, SampleEveryMs);
        if (result < WAIT_OBJECT_0 + running.size()) running.erase(running.begin() + (result - WAIT_OBJECT_0));
    }
    meter.Sample();
    const bool written = collect(true);
    if (!running.empty()) {
        // The stuck threads hold their graphs; neither can be torn down, so the
        // child ends here without running any destructor.
        std::fflush(nullptr);
        TerminateProcess(GetCurrentProcess(), StuckExitCode);
    }
    return written ? 0 : 5;
}
