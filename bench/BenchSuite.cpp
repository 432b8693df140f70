#include "bench/BenchSuite.h"

#include "bench/MfReaderRun.h"

#include "bench/AllocationCounter.h"
#include "bench/BenchGraph.h"
#include "bench/ChildProcess.h"
#include "bench/LibraryDecodeRun.h"
#include "bench/PngChart.h"
#include "bench/SampleTap.h"
#include "bench/Stopwatch.h"
#include "bench/ThreadCpuMeter.h"
#include "reader/AudioBuffer.h"
#include "reader/PictureBudget.h"

#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <map>

namespace {

constexpr double MB = 1024.0 * 1024.0;
constexpr REFERENCE_TIME PerMs = 10000;
// Buffers a picture can occupy at once: the pool keeps its most free ones,
// flow control holds the queue near its high water (a few more arrive
// before the pause takes effect), the library decodes into one and
// downstream holds two samples.
constexpr double PoolKept = CFramePool::MaxKept, QueueHigh = CPictureBudget::HighWaterMark, QueueOvershoot = 4,
                 DecodeBuffers = 1, DownstreamSamples = 2;
constexpr double RingBytes = CAudioBuffer::RingBytes;

double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

std::string Spread(const std::vector<double>& values, double scale, const char* unit) {
    if (values.empty()) return "no run succeeded";
    const auto [low, high] = std::minmax_element(values.begin(), values.end());
    char text[96];
    std::snprintf(text, sizeof(text), "median of %zu, %.4g..%.4g %s", values.size(), *low * scale, *high * scale, unit);
    return text;
}

std::string SizeName(const MediaPlan& plan) {
    char text[32];
    std::snprintf(text, sizeof(text), "%ux%u", plan.Width, plan.Height);
    return text;
}

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

// Pages obtained and released by the system, touched before timing so that
// page faults stay out of the copy figures.
class CPageBlock {
public:
    explicit CPageBlock(size_t bytes) : Bytes(bytes) {
        Data = static_cast<uint8_t*>(VirtualAlloc(nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
        if (Data) std::memset(Data, 0x5A, bytes);
    }
    ~CPageBlock() {
        if (Data) VirtualFree(Data, 0, MEM_RELEASE);
    }
    CPageBlock(const CPageBlock&) = delete;
    CPageBlock& operator=(const CPageBlock&) = delete;
    uint8_t* Get() const { return Data; }
    size_t Size() const { return Bytes; }

private:
    uint8_t* Data = nullptr;
    size_t Bytes;
};

}  // namespace

CBenchSuite::CBenchSuite(const SuiteOptions& options, CBenchReport* report, CModuleFactory* module)
    : Options(options), Report(report), Module(module), Scratch(BenchScratchFolder()) {}

DWORD CBenchSuite::RunTimeoutMs(const MediaPlan& plan) const { return 30000 + plan.Frames * 50; }

bool CBenchSuite::ModuleRun(const std::wstring& recording, const MediaPlan& plan, ModuleTimes* times) {
    CSampleTap tap;
    KxGraphOptions options;
    options.VideoTap = &tap;
    CBenchGraph graph;
    HRESULT hr = graph.BuildModule(Module, recording, options);
    CThreadCpuMeter moduleThreads, libraryThreads;
    moduleThreads.AddModule(Module->Module());
    libraryThreads.AddModule(GetModuleHandleW(L"VUVezaVID.dll"));
    const auto moduleBefore = moduleThreads.Snapshot();
    const auto libraryBefore = libraryThreads.Snapshot();
    const int64_t runStart = CStopwatch::Ticks();
    if (SUCCEEDED(hr)) hr = graph.Run();
    if (FAILED(hr)) {
        char text[96];
        std::snprintf(text, sizeof(text), "%s: module graph failed, 0x%08lX", SizeName(plan).c_str(), hr);
        Report->Warn(text);
        return false;
    }
    const bool complete = graph.WaitForComplete(RunTimeoutMs(plan));
    const int64_t end = CStopwatch::Ticks();
    times->WorkersBusy = CThreadCpuMeter::SecondsBetween(moduleBefore, moduleThreads.Snapshot());
    times->LibraryBusy = CThreadCpuMeter::SecondsBetween(libraryBefore, libraryThreads.Snapshot());
    times->Seconds = CStopwatch::TicksToSeconds(end - graph.LoadStartTicks());
    times->Running = CStopwatch::TicksToSeconds(end - runStart);
    times->Load = graph.LoadSeconds();
    graph.Stop();
    if (!complete) Report->Warn(SizeName(plan) + ": module graph did not complete");
    // A run that lost pictures measures something else; it is reported and
    // left out of the figures.
    const bool whole = tap.Count() == plan.Frames;
    if (!whole) {
        Report->Warn(SizeName(plan) + ": module delivered " + std::to_string(tap.Count()) + " of " +
                     std::to_string(plan.Frames) + " pictures, run left out");
    }
    return complete && whole;
}

bool CBenchSuite::AviRun(const std::wstring& avi, const MediaPlan& plan, double* seconds) {
    CSampleTap tap;
    CBenchGraph graph;
    HRESULT hr = graph.BuildAvi(avi, &tap);
    if (SUCCEEDED(hr)) hr = graph.Run();
    if (FAILED(hr)) {
        char text[96];
        std::snprintf(text, sizeof(text), "%s: AVI graph failed, 0x%08lX", SizeName(plan).c_str(), hr);
        Report->Warn(text);
        return false;
    }
    const bool complete = graph.WaitForComplete(RunTimeoutMs(plan));
    *seconds = CStopwatch::TicksToSeconds(CStopwatch::Ticks() - graph.LoadStartTicks());
    graph.Stop();
    if (!complete) Report->Warn(SizeName(plan) + ": AVI graph did not complete");
    const bool whole = tap.Count() == plan.Frames;
    if (!whole) {
        Report->Warn(SizeName(plan) + ": AVI source delivered " + std::to_string(tap.Count()) + " of " +
                     std::to_string(plan.Frames) + " pictures, run left out");
    }
    return complete && whole;
}

double CBenchSuite::CopyLimit(const MediaPlan& plan) {
    // The module's two copies: the library's decode buffer into one of the
    // pool buffers circulating through the queue, that buffer into one of
    // the two downstream samples.
    const size_t bytes = static_cast<size_t>(plan.PictureBytes());
    constexpr size_t PoolBuffers = CPictureBudget::HighWaterMark;
    CPageBlock source(bytes), pool(bytes * PoolBuffers), samples(bytes * 2);
    if (!source.Get() || !pool.Get() || !samples.Get()) return 0;
    const double traffic = Options.Smoke ? 64 * MB : 1024 * MB;
    const size_t pictures = std::max<size_t>(100, static_cast<size_t>(traffic / static_cast<double>(bytes)));
    double best = 0;
    for (int repeat = 0; repeat <= Options.Repeats; ++repeat) {
        CStopwatch clock;
        for (size_t n = 0; n < pictures; ++n) {
            uint8_t* buffer = pool.Get() + (n % PoolBuffers) * bytes;
            std::memcpy(buffer, source.Get(), bytes);
            std::memcpy(samples.Get() + (n % 2) * bytes, buffer, bytes);
        }
        const double rate = static_cast<double>(pictures) / clock.Seconds();
        // The first pass warms the caches and is not counted.
        if (repeat > 0) best = std::max(best, rate);
    }
    return best;
}

void CBenchSuite::MeasureSize(const MediaPlan& plan) {
    const std::string size = SizeName(plan);
    const std::string section = "1-5. " + size + ", " + std::to_string(plan.Frames) + " pictures with sound";
    const std::wstring recording = Scratch + L"size_" + Wide(size) + L".kxr";
    const std::wstring avi = Scratch + L"size_" + Wide(size) + L".avi";
    std::string error;
    if (!WriteBenchRecording(recording, plan, &error) || !WriteBenchAvi(avi, plan, &error)) {
        Report->Warn(size + ": " + error);
        DeleteFileW(recording.c_str());
        DeleteFileW(avi.c_str());
        return;
    }
    SizeFigures figures;
    figures.Plan = plan;
    const double pictureMB = static_cast<double>(plan.PictureBytes()) / MB;
    const double frames = plan.Frames;

    // Every run counts the pictures that reach the video renderer through a
    // Sample Grabber (on both paths alike). One run of each path first brings
    // the files into the page cache and is not timed.
    double seconds = 0;
    ModuleTimes times;
    ModuleRun(recording, plan, &times);
    AviRun(avi, plan, &seconds);

    std::vector<double> moduleSeconds, loads, running, libraryBusy, workersBusy, aviSeconds, librarySeconds;
    for (int repeat = 0; repeat < Options.Repeats; ++repeat) {
        if (ModuleRun(recording, plan, &times)) {
            moduleSeconds.push_back(times.Seconds);
            loads.push_back(times.Load);
            running.push_back(times.Running);
            libraryBusy.push_back(100 * times.LibraryBusy / times.Running);
            workersBusy.push_back(100 * times.WorkersBusy / times.Running);
        }
        if (AviRun(avi, plan, &seconds)) aviSeconds.push_back(seconds);
        // The 64-bit module's library works in its helper, out of reach.
        if (!LibraryInProcess) continue;
        CLibraryDecodeRun library;
        if (library.Run(recording, plan.Frames, RunTimeoutMs(plan), &seconds)) {
            librarySeconds.push_back(seconds);
        } else {
            Report->Warn(size + ": the library alone did not decode every picture");
        }
    }
    // The module alone over a longer recording: a run of the AVI's length
    // spends a good part of its time filling the pool with fresh buffers
    // (first-touch page faults), which a long export pays only once.
    MediaPlan longPlan = plan;
    longPlan.Frames = plan.Frames * LongRunFactor;
    const std::wstring longRecording = Scratch + L"long_" + Wide(size) + L".kxr";
    std::vector<double> longSeconds;
    if (WriteBenchRecording(longRecording, longPlan, &error)) {
        for (int repeat = 0; repeat < Options.Repeats; ++repeat) {
            if (ModuleRun(longRecording, longPlan, &times)) longSeconds.push_back(times.Seconds);
        }
    } else {
        Report->Warn(size + ": " + error);
    }
    DeleteFileW(longRecording.c_str());
    figures.ModuleLongPictures = Median(longSeconds) > 0 ? longPlan.Frames / Median(longSeconds) : 0;
    figures.CopyPictures = CopyLimit(plan);
    const double module = Median(moduleSeconds), aviTime = Median(aviSeconds), library = Median(librarySeconds);
    figures.ModulePictures = module > 0 ? frames / module : 0;
    figures.AviPictures = aviTime > 0 ? frames / aviTime : 0;
    figures.LibraryPictures = library > 0 ? frames / library : 0;

    Report->Add(section, "1. module, Load to EC_COMPLETE", figures.ModulePictures, "pictures/s",
                Spread(moduleSeconds, 1000, "ms"));
    Report->Add(section, "1. module bytes", figures.ModulePictures * pictureMB, "MB/s");
    Report->Add(section, "1. module, Run to EC_COMPLETE", Median(running) > 0 ? frames / Median(running) : 0, "pictures/s",
                Spread(running, 1000, "ms"));
    if (LibraryInProcess) {
        Report->Add(section, "1. library thread busy while running", Median(libraryBusy), "% of a core",
                    Spread(libraryBusy, 1, "%"));
    }
    Report->Add(section, "1. module threads busy while running", Median(workersBusy), "% of a core",
                Spread(workersBusy, 1, "%") + ", both workers and the message thread");
    Report->Add(section, "1. module, " + std::to_string(longPlan.Frames) + " pictures (warm-up amortised)",
                figures.ModuleLongPictures, "pictures/s", Spread(longSeconds, 1000, "ms"));
    Report->Add(section, "2. copy limit (2 memcpy per picture)", figures.CopyPictures, "pictures/s",
                "best of " + std::to_string(Options.Repeats));
    Report->Add(section, "2. copy limit bytes (per copy)", figures.CopyPictures * pictureMB, "MB/s");
    Report->Add(section, "2. module / copy limit",
                figures.CopyPictures > 0 ? 100 * figures.ModulePictures / figures.CopyPictures : 0, "%");
    Report->Add(section, "2. module / copy limit, longer recording",
                figures.CopyPictures > 0 ? 100 * figures.ModuleLongPictures / figures.CopyPictures : 0, "%");
    Report->Add(section, "3. AVI source, Load to EC_COMPLETE", figures.AviPictures, "pictures/s",
                Spread(aviSeconds, 1000, "ms"));
    Report->Add(section, "3. AVI source bytes", figures.AviPictures * pictureMB, "MB/s");
    Report->Add(section, "3. module / AVI source", figures.AviPictures > 0 ? figures.ModulePictures / figures.AviPictures : 0,
                "x");
    if (LibraryInProcess) {
        Report->Add(section, "4. library decoding alone", figures.LibraryPictures, "pictures/s",
                    Spread(librarySeconds, 1000, "ms"));
        Report->Add(section, "4. library share of the module's time", module > 0 ? 100 * library / module : 0, "%");
    }
    Report->Add(section, "5. open latency (Load to return)", Median(loads) * 1000, "ms", Spread(loads, 1000, "ms"));
    SeekLatency(recording, plan, section);
    StepLatency(recording, plan, section);
    Sizes.push_back(figures);
    DeleteFileW(recording.c_str());
    DeleteFileW(avi.c_str());
}

void CBenchSuite::SeekLatency(const std::wstring& recording, const MediaPlan& plan, const std::string& section) {
    CSampleTap tap;
    KxGraphOptions options;
    options.Clock = true;
    options.VideoTap = &tap;
    CBenchGraph graph;
    HRESULT hr = graph.BuildModule(Module, recording, options);
    if (SUCCEEDED(hr)) hr = graph.Run();
    if (FAILED(hr) || !tap.WaitForCount(3, 20000)) {
        Report->Warn(SizeName(plan) + ": seek graph did not start");
        return;
    }
    const int seeks = Options.Smoke ? 2 : 5;
    std::vector<double> latencies, returns;
    for (int k = 1; k <= seeks; ++k) {
        const REFERENCE_TIME start = static_cast<REFERENCE_TIME>(plan.DurationMs()) * k / (seeks + 2) * PerMs;
        tap.Arm();
        const int64_t before = CStopwatch::Ticks();
        hr = graph.SeekTo(start);
        const int64_t returned = CStopwatch::Ticks();
        int64_t arrived = 0;
        if (FAILED(hr) || !tap.WaitForSegmentStart(20000, &arrived)) {
            Report->Warn(SizeName(plan) + ": no picture of the new segment within 20 s of a seek");
            continue;
        }
        latencies.push_back(CStopwatch::TicksToSeconds(arrived - before));
        returns.push_back(CStopwatch::TicksToSeconds(returned - before));
        tap.WaitForCount(tap.Count() + 2, 10000);
    }
    graph.Stop();
    Report->Add(section, "5. seek latency (SetPositions to first sample)", Median(latencies) * 1000, "ms",
                Spread(latencies, 1000, "ms") + ", clocked, running");
    Report->Add(section, "5. SetPositions return", Median(returns) * 1000, "ms", Spread(returns, 1000, "ms"));
}

void CBenchSuite::StepLatency(const std::wstring& recording, const MediaPlan& plan, const std::string& section) {
    CSampleTap tap;
    KxGraphOptions options;
    options.Clock = true;
    options.VideoTap = &tap;
    CBenchGraph graph;
    HRESULT hr = graph.BuildModule(Module, recording, options);
    // The last picture, then back from it.
    const REFERENCE_TIME period = 10000000 / plan.Fps;
    const int64_t from = static_cast<int64_t>(plan.Frames) - 1;
    if (SUCCEEDED(hr)) hr = graph.SeekTo(from * period);
    if (SUCCEEDED(hr)) hr = graph.Pause();
    if (FAILED(hr) || !tap.WaitForCount(1, 20000)) {
        Report->Warn(SizeName(plan) + ": step graph did not pause with a picture");
        return;
    }
    const int steps = Options.Smoke ? 2 : 10;
    std::vector<double> latencies;
    for (int k = 1; k <= steps && k <= from; ++k) {
        tap.Arm();
        const int64_t before = CStopwatch::Ticks();
        hr = graph.SeekTo((from - k) * period);
        int64_t arrived = 0;
        if (FAILED(hr) || !tap.WaitForSegmentStart(20000, &arrived)) {
            Report->Warn(SizeName(plan) + ": no picture within 20 s of a backward step");
            continue;
        }
        latencies.push_back(CStopwatch::TicksToSeconds(arrived - before));
    }
    graph.Stop();
    Report->Add(section, "5. backward step (paused seek to the picture before, to its first sample)",
                Median(latencies) * 1000, "ms", Spread(latencies, 1000, "ms") + ", clocked, paused");
}

void CBenchSuite::MeasureStep(const MediaPlan& plan) {
    const std::string size = SizeName(plan);
    const std::wstring recording = Scratch + L"step_" + Wide(size) + L".kxr";
    std::string error;
    if (!WriteBenchRecording(recording, plan, &error)) {
        Report->Warn(size + ": " + error);
        return;
    }
    StepLatency(recording, plan, "5. " + size + ", " + std::to_string(plan.Frames) + " pictures with sound");
    DeleteFileW(recording.c_str());
}

void CBenchSuite::MeasureMf(const MediaPlan& plan) {
    const std::string size = SizeName(plan);
    const std::string section = "9. " + size + ", " + std::to_string(plan.Frames) +
                                " pictures with sound, Media Foundation beside DirectShow";
    const std::wstring recording = Scratch + L"mf_" + Wide(size) + L".kxr";
    std::string error;
    if (!WriteBenchRecording(recording, plan, &error)) {
        Report->Warn(size + ": " + error);
        return;
    }
    // One untimed run of each path brings the file into the page cache.
    CMfReaderRun reader;
    ModuleTimes times;
    double seconds = 0;
    uint32_t pictures = 0;
    ModuleRun(recording, plan, &times);
    reader.Run(Module->Module(), recording, RunTimeoutMs(plan), &seconds, &pictures);
    std::vector<double> graphSeconds, readerSeconds;
    for (int repeat = 0; repeat < Options.Repeats; ++repeat) {
        if (ModuleRun(recording, plan, &times)) graphSeconds.push_back(times.Seconds);
        const HRESULT hr = reader.Run(Module->Module(), recording, RunTimeoutMs(plan), &seconds, &pictures);
        if (SUCCEEDED(hr) && pictures == plan.Frames) {
            readerSeconds.push_back(seconds);
        } else {
            char text[128];
            std::snprintf(text, sizeof(text), "%s: MF reader read %u of %u pictures, 0x%08lX, run left out",
                          size.c_str(), pictures, plan.Frames, hr);
            Report->Warn(text);
        }
    }
    DeleteFileW(recording.c_str());
    if (graphSeconds.empty() || readerSeconds.empty()) return;
    const double graph = plan.Frames / Median(graphSeconds);
    const double mf = plan.Frames / Median(readerSeconds);
    Report->Add(section, "DirectShow graph, unclocked", graph, "pictures/s", "Load to EC_COMPLETE, median");
    Report->Add(section, "MF source reader, unclocked", mf, "pictures/s",
                "handler's BeginCreateObject to the end of both streams, median");
    Report->Add(section, "MF over DirectShow", 100 * mf / graph, "%");
    char detail[96];
    std::snprintf(detail, sizeof(detail), "%.0f%% of the graph's pictures/s", 100 * mf / graph);
    Report->Judge("MF reader at least 90% of the DirectShow graph at " + size, mf >= 0.9 * graph, detail);
}

void CBenchSuite::MeasureMemory(const MediaPlan& plan) {
    const std::string section = "6. allocations and memory, " + SizeName(plan) + ", " + std::to_string(plan.Frames) +
                                " pictures, unclocked";
    const std::wstring recording = Scratch + L"memory.kxr";
    const std::wstring out = Scratch + L"memory.txt";
    std::string error;
    if (!WriteBenchRecording(recording, plan, &error)) {
        Report->Warn("memory: " + error);
        return;
    }
    DeleteFileW(out.c_str());
    const ChildEnd child = RunBenchChild(L"--memory-child \"" + recording + L"\" " + std::to_wstring(plan.Frames) +
                                             L" \"" + out + L"\"",
                                         300000);
    DeleteFileW(recording.c_str());
    if (child == ChildEnd::NotStarted) {
        Report->Warn("memory: the child process could not start");
        return;
    }
    const bool ended = child == ChildEnd::Ended;

    std::map<std::string, double> values;
    if (FILE* file = _wfopen(out.c_str(), L"r")) {
        char name[64];
        double value = 0;
        while (std::fscanf(file, "%63s %lf", name, &value) == 2) values[name] = value;
        std::fclose(file);
    }
    DeleteFileW(out.c_str());
    if (!ended || values.count("pictures_between") == 0 || values["pictures_between"] <= 0) {
        Report->Warn("memory: the child process gave no figures");
        return;
    }
    const double between = values["pictures_between"];
    AllocationsPerPicture = values["module_allocations"] / between;
    Report->Add(section, "pictures delivered", values["delivered"], "pictures");
    Report->Add(section, "steady-state window", between, "pictures");
    Report->Add(section, "module allocations per picture", AllocationsPerPicture, "allocs",
                std::to_string(static_cast<long long>(values["module_allocations"])) + " in the window, " +
                    std::to_string(static_cast<long long>(values["module_large_allocations"])) + " of them picture buffers");
    Report->Add(section, "library allocations per picture", values["library_allocations"] / between, "allocs",
                std::to_string(static_cast<long long>(values["library_allocations"])) + " in the window");
    Report->Add(section, "module allocations, whole run", values["module_total"], "allocs",
                std::to_string(static_cast<long long>(values["module_large_total"])) +
                    " picture buffers; the rest at Load and start-up");
    const double pictureBytes = static_cast<double>(plan.PictureBytes());
    PeakBound = (PoolKept + QueueHigh + QueueOvershoot + DecodeBuffers + DownstreamSamples) * pictureBytes + RingBytes;
    // Wine's page-file counters miss large blocks; the working set covers
    // them, since every picture buffer is written in full. The larger of
    // the two rises is judged.
    PeakBytes = std::max(values["peak_pagefile"] - values["private_before"],
                         values["peak_working_set"] - values["working_set_before"]);
    char pictures[32];
    std::snprintf(pictures, sizeof(pictures), "%.1f pictures", PeakBytes / pictureBytes);
    Report->Add(section, "peak memory above the start (larger of the two)", PeakBytes / MB, "MB", pictures);
    Report->Add(section, "bound: pool + queue + decode + samples + ring", PeakBound / MB, "MB",
                std::to_string(static_cast<int>(PoolKept + QueueHigh + QueueOvershoot + DecodeBuffers + DownstreamSamples)) +
                    " pictures");
    Report->Add(section, "PeakPagefileUsage (as reported)", values["peak_pagefile"] / MB, "MB");
    Report->Add(section, "PeakWorkingSetSize (as reported)", values["peak_working_set"] / MB, "MB");
}

int CBenchSuite::MemoryChild(const std::wstring& recording, uint32_t frames, const std::wstring& out) {
    CModuleFactory module;
    if (!module.Open()) return 2;
    HMODULE library = LoadLibraryW(CModuleFactory::BesideExecutable(L"VUVezaVID.dll").c_str());
    if (!CAllocationCounter::Watch(module.Module(), 0) || !CAllocationCounter::Watch(library, 1)) return 3;
    // Steady state: well past the preroll and the pool's filling, and
    // before the end of the file drains the queue.
    const uint32_t first = std::max<uint32_t>(100, frames * 3 / 8);
    const uint32_t second = frames * 7 / 8;
    uint64_t marks[2][CAllocationCounter::Slots] = {};
    uint64_t largeMarks[2] = {};
    CSampleTap tap;
    tap.SetMarks(first, second, [&](uint32_t count) {
        const int index = count == first ? 0 : 1;
        for (int slot = 0; slot < CAllocationCounter::Slots; ++slot) marks[index][slot] = CAllocationCounter::Count(slot);
        largeMarks[index] = CAllocationCounter::LargeCount(0);
    });
    PROCESS_MEMORY_COUNTERS_EX before{}, after{};
    GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&before), sizeof(before));
    bool complete = false;
    {
        KxGraphOptions options;
        options.VideoTap = &tap;
        CBenchGraph graph;
        HRESULT hr = graph.BuildModule(&module, recording, options);
        if (SUCCEEDED(hr)) hr = graph.Run();
        if (FAILED(hr)) return 4;
        complete = graph.WaitForComplete(30000 + frames * 50);
        graph.Stop();
    }
    GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&after), sizeof(after));
    FILE* file = _wfopen(out.c_str(), L"w");
    if (!file) return 5;
    const bool windowSeen = tap.Count() >= second && second > first;
    std::fprintf(file, "delivered %u\n", tap.Count());
    std::fprintf(file, "pictures_between %u\n", windowSeen ? second - first : 0);
    std::fprintf(file, "module_allocations %llu\n", static_cast<unsigned long long>(marks[1][0] - marks[0][0]));
    std::fprintf(file, "module_large_allocations %llu\n", static_cast<unsigned long long>(largeMarks[1] - largeMarks[0]));
    std::fprintf(file, "module_large_total %llu\n", static_cast<unsigned long long>(CAllocationCounter::LargeCount(0)));
    std::fprintf(file, "library_allocations %llu\n", static_cast<unsigned long long>(marks[1][1] - marks[0][1]));
    std::fprintf(file, "module_total %llu\n", static_cast<unsigned long long>(CAllocationCounter::Count(0)));
    std::fprintf(file, "private_before %lu\n", static_cast<unsigned long>(before.PrivateUsage));
    std::fprintf(file, "working_set_before %lu\n", static_cast<unsigned long>(before.WorkingSetSize));
    std::fprintf(file, "peak_pagefile %lu\n", static_cast<unsigned long>(after.PeakPagefileUsage));
    std::fprintf(file, "peak_working_set %lu\n", static_cast<unsigned long>(after.PeakWorkingSetSize));
    std::fprintf(file, "complete %d\n", complete ? 1 : 0);
    return std::fclose(file) == 0 && complete ? 0 : 6;
}

void CBenchSuite::MeasureCpu(const MediaPlan& plan) {
    const std::string section = "7. CPU of clocked real-time playback, " + SizeName(plan) + " at " +
                                std::to_string(plan.Fps) + " pictures/s";
    const std::wstring recording = Scratch + L"cpu.kxr";
    std::string error;
    if (!WriteBenchRecording(recording, plan, &error)) {
        Report->Warn("cpu: " + error);
        return;
    }
    KxGraphOptions options;
    options.Clock = true;
    CBenchGraph graph;
    HRESULT hr = graph.BuildModule(Module, recording, options);
    if (SUCCEEDED(hr)) hr = graph.Run();
    if (FAILED(hr)) {
        Report->Warn("cpu: the clocked graph failed");
        DeleteFileW(recording.c_str());
        return;
    }
    CThreadCpuMeter moduleThreads, libraryThreads;
    moduleThreads.AddModule(Module->Module());
    libraryThreads.AddModule(GetModuleHandleW(L"VUVezaVID.dll"));
    // The first second (preroll, pool filling) is left out; the graph must
    // still be playing at both ends of the window.
    const bool endedEarly = graph.WaitForComplete(1000);
    const auto moduleBefore = moduleThreads.Snapshot();
    const auto libraryBefore = libraryThreads.Snapshot();
    const double processBefore = CThreadCpuMeter::ProcessSeconds();
    CStopwatch wall;
    const bool ended = endedEarly || graph.WaitForComplete(Options.CpuSeconds * 1000);
    const auto moduleAfter = moduleThreads.Snapshot();
    const auto libraryAfter = libraryThreads.Snapshot();
    const double processSpent = CThreadCpuMeter::ProcessSeconds() - processBefore;
    const double seconds = wall.Seconds();
    graph.Stop();
    DeleteFileW(recording.c_str());
    if (ended) Report->Warn("cpu: the recording ended inside the measuring window");
    const double moduleShare = 100 * CThreadCpuMeter::SecondsBetween(moduleBefore, moduleAfter) / seconds;
    const double libraryShare = 100 * CThreadCpuMeter::SecondsBetween(libraryBefore, libraryAfter) / seconds;
    CpuShare = moduleShare + libraryShare;
    Report->Add(section, "window", seconds, "s");
    Report->Add(section, "module threads (workers, message thread)", moduleShare, "% of a core",
                std::to_string(moduleAfter.size()) + " threads; includes downstream Receive on the workers");
    Report->Add(section, "library decoding thread", libraryShare, "% of a core",
                std::to_string(libraryAfter.size()) + " threads");
    Report->Add(section, "module + library", CpuShare, "% of a core");
    Report->Add(section, "whole process (graph, renderers, clock)", 100 * processSpent / seconds, "% of a core");
}

void CBenchSuite::Conclude() {
    if (!Sizes.empty()) {
        const SizeFigures& largest = Sizes.back();
        char detail[200];
        // The copy limit is a warm figure, so it is set against the run whose
        // pool warm-up is amortised; the AVI-length run is given beside it.
        const double share = largest.CopyPictures > 0 ? largest.ModuleLongPictures / largest.CopyPictures : 0;
        std::snprintf(detail, sizeof(detail), "%s: %.0f of %.0f pictures/s = %.0f%% (AVI-length run: %.0f%%)",
                      SizeName(largest.Plan).c_str(), largest.ModuleLongPictures, largest.CopyPictures, 100 * share,
                      largest.CopyPictures > 0 ? 100 * largest.ModulePictures / largest.CopyPictures : 0);
        Report->Judge("module reaches 60% of the copy limit at the largest size", share >= 0.6, detail);
        bool beats = true;
        std::string sizes;
        for (const SizeFigures& f : Sizes) {
            beats = beats && f.ModulePictures > f.AviPictures;
            std::snprintf(detail, sizeof(detail), "%s %.0f vs %.0f; ", SizeName(f.Plan).c_str(), f.ModulePictures,
                          f.AviPictures);
            sizes += detail;
        }
        Report->Judge("module beats the AVI source at every size", beats, sizes);
    }
    if (AllocationsPerPicture >= 0) {
        char detail[96];
        std::snprintf(detail, sizeof(detail), "%.3f per picture", AllocationsPerPicture);
        Report->Judge("no module allocation per picture in steady state", AllocationsPerPicture == 0, detail);
    }
    if (PeakBytes >= 0) {
        char detail[96];
        std::snprintf(detail, sizeof(detail), "%.0f MB of at most %.0f MB", PeakBytes / MB, PeakBound / MB);
        Report->Judge("peak memory within the pool and queue bounds", PeakBytes <= PeakBound, detail);
    }
    if (CpuShare >= 0) {
        char detail[96];
        std::snprintf(detail, sizeof(detail), "%.2f%% of one core", CpuShare);
        Report->Judge("real-time playback under 10% of a core", CpuShare < 10, detail);
    }
    if (Sizes.empty() || Options.ChartPath.empty()) return;
    ChartData chart;
    chart.Title = L"Throughput per picture size (pictures per second, logarithmic)";
    chart.Unit = L"pictures/s";
    ChartSeries module{L"KXVD Source", 0x1F77B4, {}}, moduleLong{L"KXVD Source, 5x longer", 0x9EC9E2, {}}, copy{L"copy limit (2 memcpy)", 0xAAAAAA, {}},
        avi{L"AVI source (platform)", 0xFF7F0E, {}}, library{L"library decoding alone", 0x2CA02C, {}};
    for (const SizeFigures& f : Sizes) {
        chart.Groups.push_back(Wide(SizeName(f.Plan)));
        module.Values.push_back(f.ModulePictures);
        moduleLong.Values.push_back(f.ModuleLongPictures);
        copy.Values.push_back(f.CopyPictures);
        avi.Values.push_back(f.AviPictures);
        library.Values.push_back(f.LibraryPictures);
    }
    chart.Series = {module, moduleLong, copy, avi, library};
    if (!CPngChart(960, 540).Write(chart, Options.ChartPath)) Report->Warn("the chart could not be written");
}
