#include "bench/ThumbnailRun.h"

#include "bench/BenchMedia.h"
#include "bench/ChildProcess.h"
#include "bench/ModuleFactory.h"
#include "bench/Stopwatch.h"
#include "common/KXVDSrcClsid.h"

#include <propsys.h>
#include <thumbcache.h>
#include <wrl/client.h>

#include <algorithm>
#include <cstdio>
#include <vector>

using Microsoft::WRL::ComPtr;

int CThumbnailRun::Child(const std::wstring& recording) {
    const CStopwatch clock;
    HMODULE module = LoadLibraryW(CModuleFactory::BesideExecutable(KXVDSourceModuleName).c_str());
    using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    auto entry = module ? reinterpret_cast<GetClassObject>(reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")))
                        : nullptr;
    if (!entry) return static_cast<int>(HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND));
    ComPtr<IClassFactory> factory;
    HRESULT hr = entry(CLSID_KXVDThumbnailProvider, IID_PPV_ARGS(&factory));
    ComPtr<IInitializeWithFile> file;
    if (SUCCEEDED(hr)) hr = factory->CreateInstance(nullptr, IID_PPV_ARGS(&file));
    if (SUCCEEDED(hr)) hr = file->Initialize(recording.c_str(), STGM_READ);
    ComPtr<IThumbnailProvider> provider;
    if (SUCCEEDED(hr)) hr = file.As(&provider);
    HBITMAP bitmap = nullptr;
    WTS_ALPHATYPE alpha = WTSAT_UNKNOWN;
    if (SUCCEEDED(hr)) hr = provider->GetThumbnail(256, &bitmap, &alpha);
    const double seconds = clock.Seconds();
    if (bitmap) DeleteObject(bitmap);
    return FAILED(hr) ? static_cast<int>(hr) : static_cast<int>(seconds * 10000.0);
}

int CThumbnailRun::Measure(int rounds, bool smoke) {
    MediaPlan plan;
    plan.Width = 1920;
    plan.Height = 1080;
    plan.Frames = smoke ? 25 : 250;
    const std::wstring recording = BenchScratchFolder() + L"thumbnail.kxr";
    std::string error;
    if (!WriteBenchRecording(recording, plan, &error)) {
        std::fprintf(stderr, "kxbench: cannot write the recording: %s\n", error.c_str());
        return 1;
    }
    std::vector<double> inside, whole;
    for (int round = 0; round < rounds; ++round) {
        DWORD code = 0;
        const CStopwatch clock;
        const ChildEnd end = RunBenchChild(L"--thumbnail-child \"" + recording + L"\"", 60000, &code);
        const double process = clock.Seconds() * 1000.0;
        if (end != ChildEnd::Ended || static_cast<LONG>(code) < 0) {
            std::fprintf(stderr, "kxbench: thumbnail round %d failed (0x%08lX)\n", round + 1, code);
            return 1;
        }
        inside.push_back(code / 10.0);
        whole.push_back(process);
    }
    std::sort(inside.begin(), inside.end());
    std::sort(whole.begin(), whole.end());
    std::printf("thumbnail of 256 px from 1920x1080, %d cold starts (ms): module load to bitmap min %.1f median %.1f "
                "max %.1f; whole child process min %.1f median %.1f max %.1f\n",
                rounds, inside.front(), inside[inside.size() / 2], inside.back(), whole.front(), whole[whole.size() / 2],
                whole.back());
    DeleteFileW(recording.c_str());
    return 0;
}
