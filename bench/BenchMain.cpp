// kxbench: measures the module against the machine's copy limit and the
// platform's own AVI source, prints a table and writes JSON and a PNG chart.
//
//   kxbench [--smoke] [--out RESULTS.json] [--repeats N] [--cpu-seconds S]
//
// --smoke runs every measurement tiny, in seconds, to prove the bench works;
// its figures mean nothing. The chart goes beside the JSON file, as .png.
#include "bench/BenchSuite.h"

#include <objbase.h>
#include <shellapi.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

struct Arguments {
    bool Smoke = false;
    bool Valid = true;
    int Repeats = 3;
    uint32_t CpuSeconds = 20;
    std::wstring Out;
};

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
        } else if (option == L"--cpu-seconds" && hasValue) {
            arguments.CpuSeconds = static_cast<uint32_t>(std::max(2, _wtoi(values[++i])));
        } else {
            arguments.Valid = false;
        }
    }
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

int RunBench(const Arguments& arguments) {
    CModuleFactory module;
    if (!module.Open()) {
        std::fprintf(stderr, "kxbench: KXVDSrc.ax beside the bench cannot be loaded\n");
        return 1;
    }
    CBenchReport report;
    report.SetMode(arguments.Smoke ? "smoke, figures not meaningful" : "full");
    SuiteOptions options;
    options.Smoke = arguments.Smoke;
    options.Repeats = arguments.Smoke ? 1 : arguments.Repeats;
    options.CpuSeconds = arguments.Smoke ? 2 : arguments.CpuSeconds;
    const std::wstring out = arguments.Out.empty() ? DefaultOut() : arguments.Out;
    options.ChartPath = ChartPathFor(out);
    CBenchSuite suite(options, &report, &module);

    struct Size {
        uint32_t Width, Height, Frames;
    };
    // Frame counts keep each AVI near 600-830 MB, about a second of the
    // platform's path; the smoke run only proves that every path works.
    const std::vector<Size> sizes = arguments.Smoke
                                        ? std::vector<Size>{{352, 288, 30}, {1920, 1080, 12}}
                                        : std::vector<Size>{{352, 288, 3000}, {704, 576, 800}, {1280, 720, 400}, {1920, 1080, 200}};
    // The memory child runs first, before this process has any buffers of
    // its own to muddle the machine's state.
    MediaPlan memory;
    memory.Width = arguments.Smoke ? 352 : 1920;
    memory.Height = arguments.Smoke ? 288 : 1080;
    memory.Frames = arguments.Smoke ? 200 : 1000;
    suite.MeasureMemory(memory);
    for (const Size& size : sizes) {
        MediaPlan plan;
        plan.Width = size.Width;
        plan.Height = size.Height;
        plan.Frames = size.Frames;
        std::fprintf(stderr, "kxbench: %ux%u...\n", size.Width, size.Height);
        suite.MeasureSize(plan);
    }
    MediaPlan cpu;
    cpu.Width = 1920;
    cpu.Height = 1080;
    cpu.Fps = 25;
    cpu.Frames = (options.CpuSeconds + 4) * cpu.Fps;
    std::fprintf(stderr, "kxbench: clocked playback for %u s...\n", options.CpuSeconds);
    suite.MeasureCpu(cpu);
    suite.Conclude();
    report.Print();
    if (!report.WriteJson(out)) {
        std::fprintf(stderr, "kxbench: cannot write %ls\n", out.c_str());
        return 1;
    }
    std::printf("\nwritten: %ls and %ls\n", out.c_str(), options.ChartPath.c_str());
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
    } else {
        const Arguments arguments = Parse(block.Count, block.Values);
        if (!arguments.Valid) {
            std::fprintf(stderr, "usage: kxbench [--smoke] [--out RESULTS.json] [--repeats N] [--cpu-seconds S]\n");
            result = 2;
        } else {
            result = RunBench(arguments);
        }
    }
    CoUninitialize();
    return result;
}
