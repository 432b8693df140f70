// kxbench: measures the module against the machine's copy limit and the
// platform's own AVI source, prints a table and writes JSON and a PNG chart.
//
//   kxbench [--smoke] [--out RESULTS.json] [--repeats N] [--cpu-seconds S]
//           [--many N[,N...]] [--clocked | --unclocked] [--budget-mb M]
//           [--only WxH | cpu] [--mf]
//   kxbench --thumbnail [--repeats N] [--smoke]
//
// --smoke runs every measurement tiny, in seconds, to prove the bench works;
// its figures mean nothing. The chart goes beside the JSON file, as .png.
// --many runs only the many-files run for the given counts (and the
// single-file figures at 1920x1080 beside it); --clocked or --unclocked
// keeps it to one mode. --budget-mb sets the module's per-file picture budget
// in the registry for the run and puts the setting back afterwards.
// --only runs one measurement alone: items 1-5 at one of the picture sizes
// (352x288, 704x576, 1280x720, 1920x1080), or the clocked CPU figure (cpu),
// for comparing two builds one after the other within minutes. --mf sets the
// Media Foundation source reader's unclocked throughput beside the DirectShow
// graph's at 352x288 and 1920x1080, alone.
// --thumbnail times the Explorer thumbnail of a 1920x1080 recording from a
// cold start of the module, N rounds (default 10).
#include "bench/BenchSuite.h"
#include "bench/ManyFilesRun.h"
#include "bench/RegistryDwordScope.h"
#include "bench/ThumbnailRun.h"
#include "common/KXVDSrcClsid.h"

#include <objbase.h>
#include <shellapi.h>

#include <cstdio>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

namespace {

// Where the module reads its per-file picture budget at each Load.
const wchar_t BudgetKey[] = L"Software\\KXVD\\KXVDSrc";
const wchar_t BudgetValue[] = L"PictureBudgetMB";

struct Arguments {
    bool Smoke = false;
    bool Valid = true;
    int Repeats = 3;
    bool RepeatsGiven = false;
    uint32_t CpuSeconds = 20;
    std::wstring Out;
    std::vector<uint32_t> ManyCounts;  // empty: the full run's counts
    bool ManyOnly = false;
    bool StepOnly = false;             // --step: the backward step alone
    bool MfOnly = false;               // --mf: Media Foundation beside DirectShow alone
    bool Thumbnail = false;            // --thumbnail: the thumbnail's cold start alone
    bool Clocked = true;
    bool Unclocked = true;
    int BudgetMB = -1;                 // below 0: the registry is left alone
    std::wstring Only;                 // empty: every measurement
};

// "4,8,12" -> {4, 8, 12}; empty when any count is not a whole number from 1 to 64.
std::vector<uint32_t> Counts(const std::wstring& text) {
    std::vector<uint32_t> counts;
    size_t from = 0;
    while (from <= text.size()) {
        const size_t comma = std::min(text.find(L',', from), text.size());
        const std::wstring piece = text.substr(from, comma - from);
        if (piece.empty() || piece.size() > 2 || piece.find_first_not_of(L"0123456789") != std::wstring::npos) return {};
        const int count = _wtoi(piece.c_str());
        if (count < 1 || count > 64) return {};
        counts.push_back(static_cast<uint32_t>(count));
        from = comma + 1;
    }
    return counts;
}

Arguments Parse(int count, wchar_t** values) {
    Arguments arguments;
    for (int i = 1; i < count; ++i) {
        const std::wstring option = values[i];
        const bool hasValue = i + 1 < count;
        if (option == L"--smoke") {
            arguments.Smoke = true;
        } else if (option == L"--out" && hasValue) {
            arguments.Out = values[++i];
        } else if (option == L"--repeats" && hasValue) {
            arguments.Repeats = std::max(1, _wtoi(values[++i]));
            arguments.RepeatsGiven = true;
        } else if (option == L"--cpu-seconds" && hasValue) {
            arguments.CpuSeconds = static_cast<uint32_t>(std::max(2, _wtoi(values[++i])));
        } else if (option == L"--many" && hasValue) {
            arguments.ManyCounts = Counts(values[++i]);
            arguments.ManyOnly = true;
            arguments.Valid = arguments.Valid && !arguments.ManyCounts.empty();
        } else if (option == L"--step") {
            arguments.StepOnly = true;
        } else if (option == L"--mf") {
            arguments.MfOnly = true;
        } else if (option == L"--thumbnail") {
            arguments.Thumbnail = true;
        } else if (option == L"--clocked") {
            arguments.Unclocked = false;
        } else if (option == L"--unclocked") {
            arguments.Clocked = false;
        } else if (option == L"--only" && hasValue) {
            arguments.Only = values[++i];
        } else if (option == L"--budget-mb" && hasValue) {
            arguments.BudgetMB = _wtoi(values[++i]);
            arguments.Valid = arguments.Valid && arguments.BudgetMB > 0;
        } else {
            arguments.Valid = false;
        }
    }
    arguments.Valid = arguments.Valid && (arguments.Clocked || arguments.Unclocked);
    arguments.Valid = arguments.Valid && (arguments.Only.empty() || !arguments.ManyOnly);
    return arguments;
}

std::wstring DefaultOut() {
    wchar_t build[MAX_PATH];
    const DWORD length = GetEnvironmentVariableW(L"KX_BUILD_DIR", build, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return L"results.json";
    std::wstring folder = std::wstring(build, length) + L"/bench";
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder + L"/results.json";
}

std::wstring ChartPathFor(const std::wstring& json) {
    const size_t dot = json.find_last_of(L'.');
    const size_t slash = json.find_last_of(L"/\\");
    const bool hasExtension = dot != std::wstring::npos && (slash == std::wstring::npos || dot > slash);
    return (hasExtension ? json.substr(0, dot) : json) + L".png";
}

// Releases the command line's argument block on every path.
class CArgumentBlock {
public:
    CArgumentBlock() : Values(CommandLineToArgvW(GetCommandLineW(), &Count)) {}
    ~CArgumentBlock() {
        if (Values) LocalFree(Values);
    }
    CArgumentBlock(const CArgumentBlock&) = delete;
    CArgumentBlock& operator=(const CArgumentBlock&) = delete;
    int Count = 0;
    wchar_t** Values;
};

// The backward step, or Media Foundation beside DirectShow, at the smallest
// and the largest picture size.
int TwoSizesOnly(CBenchSuite* suite, CBenchReport* report, const std::wstring& out, bool smoke, bool mf) {
    for (const uint32_t width : {352u, 1920u}) {
        MediaPlan plan;
        plan.Width = width;
        plan.Height = width == 352 ? 288 : 1080;
        plan.Frames = smoke ? 30 : mf ? (width == 352 ? 3000 : 200) : 250;
        std::fprintf(stderr, "kxbench: %s at %ux%u...\n", mf ? "Media Foundation" : "backward step", plan.Width,
                     plan.Height);
        if (mf) {
            suite->MeasureMf(plan);
        } else {
            suite->MeasureStep(plan);
        }
    }
    report->Print();
    if (!report->WriteJson(out)) {
        std::fprintf(stderr, "kxbench: cannot write %ls\n", out.c_str());
        return 1;
    }
    return 0;
}

int RunBench(const Arguments& arguments) {
    CModuleFactory module;
    if (!module.Open()) {
        std::fprintf(stderr, "kxbench: %ls beside the bench cannot be loaded\n", KXVDSourceModuleName);
        return 1;
    }
    std::unique_ptr<CRegistryDwordScope> budget;
    if (arguments.BudgetMB > 0) {
        budget = std::make_unique<CRegistryDwordScope>(HKEY_CURRENT_USER, BudgetKey, BudgetValue,
                                                       static_cast<DWORD>(arguments.BudgetMB));
        if (!budget->Written()) {
            std::fprintf(stderr, "kxbench: cannot write HKCU\\%ls\\%ls\n", BudgetKey, BudgetValue);
            return 1;
        }
    }
    CBenchReport report;
    std::string mode = arguments.Smoke      ? "smoke, figures not meaningful"
                       : arguments.ManyOnly ? "many files"
                       : arguments.StepOnly ? "backward step"
                       : arguments.MfOnly   ? "Media Foundation beside DirectShow"
                       : !arguments.Only.empty() ? "only " + std::string(arguments.Only.begin(), arguments.Only.end())
                                                 : "full";
    mode += arguments.BudgetMB > 0 ? ", PictureBudgetMB " + std::to_string(arguments.BudgetMB) + " set for the run"
                                   : ", PictureBudgetMB not set (module default)";
    report.SetMode(mode);
    SuiteOptions options;
    options.Smoke = arguments.Smoke;
    options.Repeats = arguments.Smoke ? 1 : arguments.Repeats;
    options.CpuSeconds = arguments.Smoke ? 2 : arguments.CpuSeconds;
    const std::wstring out = arguments.Out.empty() ? DefaultOut() : arguments.Out;
    options.ChartPath = ChartPathFor(out);
    CBenchSuite suite(options, &report, &module);
    CManyFilesRun many(&report, BenchScratchFolder());
    if (arguments.StepOnly || arguments.MfOnly) {
        return TwoSizesOnly(&suite, &report, out, arguments.Smoke, arguments.MfOnly);
    }

    struct Size {
        uint32_t Width, Height, Frames;
    };
    // Frame counts keep each AVI near 600-830 MB, about a second of the
    // platform's path; the smoke run only proves that every path works.
    std::vector<Size> sizes = arguments.Smoke
                                  ? std::vector<Size>{{352, 288, 30}, {1920, 1080, 12}}
                                  : std::vector<Size>{{352, 288, 3000}, {704, 576, 800}, {1280, 720, 400}, {1920, 1080, 200}};
    // The many-files run alone keeps the single-file figures of its picture
    // size beside it, so that both come from the same run.
    if (arguments.ManyOnly) sizes.erase(sizes.begin(), sizes.end() - 1);
    const bool only = !arguments.Only.empty();
    if (only) {
        std::vector<Size> chosen;
        for (const Size& size : sizes) {
            if (std::to_wstring(size.Width) + L"x" + std::to_wstring(size.Height) == arguments.Only) chosen.push_back(size);
        }
        if (chosen.empty() && arguments.Only != L"cpu") {
            std::fprintf(stderr, "kxbench: --only takes a picture size of the bench or cpu, not %ls\n",
                         arguments.Only.c_str());
            return 2;
        }
        sizes = chosen;
    }
    // The 64-bit bench measures the 64-bit module's path to set beside the
    // 32-bit one (bench/run.sh runs both): the smallest and the largest size
    // and the many-files run, without the allocation, memory and CPU figures,
    // which count the playback library's work in this process.
    const bool wide = sizeof(void*) == 8;
    if (wide && !arguments.ManyOnly && !only) sizes = {sizes.front(), sizes.back()};
    // The memory child runs first, before this process has any buffers of
    // its own to muddle the machine's state.
    if (!arguments.ManyOnly && !wide && !only) {
        MediaPlan memory;
        memory.Width = arguments.Smoke ? 352 : 1920;
        memory.Height = arguments.Smoke ? 288 : 1080;
        memory.Frames = arguments.Smoke ? 200 : 1000;
        suite.MeasureMemory(memory);
    }
    for (const Size& size : sizes) {
        MediaPlan plan;
        plan.Width = size.Width;
        plan.Height = size.Height;
        plan.Frames = size.Frames;
        std::fprintf(stderr, "kxbench: %ux%u...\n", size.Width, size.Height);
        suite.MeasureSize(plan);
    }
    if (!arguments.ManyOnly && !wide && (!only || arguments.Only == L"cpu")) {
        MediaPlan cpu;
        cpu.Width = 1920;
        cpu.Height = 1080;
        cpu.Fps = 25;
        cpu.Frames = (options.CpuSeconds + 4) * cpu.Fps;
        std::fprintf(stderr, "kxbench: clocked playback for %u s...\n", options.CpuSeconds);
        suite.MeasureCpu(cpu);
    }
    // Many files: 8-second recordings, so that a clocked count lasts about
    // as long; the smoke run plays two files of a second.
    MediaPlan files;
    files.Width = arguments.Smoke ? 352 : 1920;
    files.Height = arguments.Smoke ? 288 : 1080;
    files.Fps = 25;
    files.Frames = arguments.Smoke ? 25 : 200;
    const std::vector<uint32_t> counts = !arguments.ManyCounts.empty() ? arguments.ManyCounts
                                         : arguments.Smoke           ? std::vector<uint32_t>{2}
                                         : wide                      ? std::vector<uint32_t>{24}
                                                                     : std::vector<uint32_t>{4, 8, 12, 16, 24};
    if (arguments.Unclocked && !only) many.Measure(files, counts, false);
    if (arguments.Clocked && !only) many.Measure(files, counts, true);
    suite.Conclude();
    many.Conclude();
    report.Print();
    if (!report.WriteJson(out)) {
        std::fprintf(stderr, "kxbench: cannot write %ls\n", out.c_str());
        return 1;
    }
    std::printf("\nwritten: %ls and %ls\n", out.c_str(), options.ChartPath.c_str());
    if (many.Broken()) {
        std::fprintf(stderr, "kxbench: the many-files run gave no figures for some count\n");
        return 1;
    }
    return 0;
}

}  // namespace

int main() {
    CArgumentBlock block;
    if (!block.Values) return 2;
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    int result = 0;
    if (block.Count == 5 && std::wcscmp(block.Values[1], L"--memory-child") == 0) {
        result = CBenchSuite::MemoryChild(block.Values[2], static_cast<uint32_t>(_wtoi(block.Values[3])), block.Values[4]);
    } else if (block.Count == 3 && std::wcscmp(block.Values[1], L"--thumbnail-child") == 0) {
        result = CThumbnailRun::Child(block.Values[2]);
    } else if (block.Count > 1 && std::wcscmp(block.Values[1], L"--many-child") == 0) {
        result = CManyFilesRun::Child(block.Count, block.Values);
    } else {
        const Arguments arguments = Parse(block.Count, block.Values);
        if (!arguments.Valid) {
            std::fprintf(stderr,
                         "usage: kxbench [--smoke] [--out RESULTS.json] [--repeats N] [--cpu-seconds S]\n"
                         "               [--many N[,N...]] [--clocked | --unclocked] [--budget-mb M] [--step]\n"
                         "               [--only WxH | cpu] [--mf]\n"
                         "       kxbench --thumbnail [--repeats N] [--smoke]\n");
            result = 2;
        } else if (arguments.Thumbnail) {
            result = CThumbnailRun::Measure(arguments.Smoke ? 1 : (arguments.RepeatsGiven ? arguments.Repeats : 10),
                                            arguments.Smoke);
        } else {
            result = RunBench(arguments);
        }
    }
    CoUninitialize();
    return result;
}
