// Bad input to the module through its registered class: paths that name no
// recording, damaged or unusual recordings, and a playback library that lacks
// a function. Each gives its fixed result within its bound and leaves the
// process able to load the next file.
#include "Bounded.h"
#include "FaultySink.h"
#include "ModuleFixture.h"
#include "ModuleSetup.h"
#include "RecordingMutation.h"

#include "common/KXVDSrcClsid.h"

#include <cstddef>
#include <memory>
#include <mutex>

namespace {

struct LoadOutcome {
    HRESULT Result = E_UNEXPECTED;
    ComPtr<IBaseFilter> Filter;
};

class BadInputTest : public ModuleTest {
protected:
    // Load of path on a new filter, on a thread of its own: false when it has
    // not returned within limitMs (a wait that never ends).
    bool TimedLoad(const std::wstring& path, DWORD limitMs, HRESULT* result) {
        auto outcome = std::make_shared<LoadOutcome>();
        const bool finished = RunBounded(
            [outcome, path] {
                if (FAILED(CoCreateInstance(CLSID_KXVDSource, nullptr, CLSCTX_INPROC_SERVER,
                                            IID_PPV_ARGS(&outcome->Filter)))) {
                    return;
                }
                ComPtr<IFileSourceFilter> source;
                if (FAILED(outcome->Filter.As(&source))) return;
                outcome->Result = source->Load(path.c_str(), nullptr);
            },
            limitMs);
        *result = outcome->Result;
        if (finished) outcome->Filter.Reset();
        return finished;
    }

    void ExpectLoadResult(const std::wstring& path, HRESULT expected, DWORD limitMs, const char* what) {
        HRESULT result = E_UNEXPECTED;
        ASSERT_TRUE(TimedLoad(path, limitMs, &result)) << "Load of " << what << " did not return within " << limitMs << " ms";
        EXPECT_EQ(expected, result) << "Load of " << what;
        ExpectGoodLoad();
    }

    std::wstring Damaged(const wchar_t* name, const std::vector<uint8_t>& bytes) {
        const std::wstring path = Temp.File(name);
        EXPECT_TRUE(WriteWholeFile(path, bytes)) << "the damaged recording could not be written";
        return path;
    }

    std::vector<uint8_t> GoodBytes() {
        RecordingPlan plan;
        plan.DurationMs = 600;
        return ReadWholeFile(Recording(L"source.kxr", plan));
    }
};

// The picture size is learnt from the first picture within 5 s; a file
// without a usable one fails after that wait.
constexpr DWORD SizeWaitLimitMs = 15000;
constexpr DWORD QuickLimitMs = 10000;

TEST_F(BadInputTest, PathsThatNameNoRecordingFailCleanly) {
    ComPtr<IBaseFilter> filter = NewFilter();
    ASSERT_TRUE(filter);
    ComPtr<IFileSourceFilter> source;
    ASSERT_EQ(S_OK, filter.As(&source));
    EXPECT_EQ(E_POINTER, source->Load(nullptr, nullptr));
    filter.Reset();
    source.Reset();

    ExpectLoadResult(L"", E_FAIL, QuickLimitMs, "an empty path");
    ExpectLoadResult(Temp.File(L"missing.kxr"), E_FAIL, QuickLimitMs, "a missing file");
    ExpectLoadResult(Temp.File(L""), E_FAIL, QuickLimitMs, "a directory");
    ExpectLoadResult(std::wstring(40000, L'a') + L".kxr", E_FAIL, QuickLimitMs, "a 40000-character path");
    ExpectLoadResult(Temp.File(std::wstring(300, L'b') + L".kxr"), E_FAIL, QuickLimitMs, "a name over MAX_PATH");
    ExpectLoadResult(Temp.File(L"fehlt-\x00e4\x00f6\x00fc-\x65e5\x672c.kxr"), E_FAIL, QuickLimitMs,
                     "a missing non-ASCII name");
}

TEST_F(BadInputTest, NonAsciiPathLoadsAndReportsItsName) {
    RecordingPlan plan;
    plan.DurationMs = 400;
    const std::wstring path = Recording(L"Aufnahme-\x00e4\x00f6\x00fc-\x65e5\x672c-\x0416.kxr", plan);
    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(S_OK, LoadFile(path, &filter));
    ComPtr<IFileSourceFilter> source;
    ASSERT_EQ(S_OK, filter.As(&source));
    LPOLESTR name = nullptr;
    ASSERT_EQ(S_OK, source->GetCurFile(&name, nullptr));
    ASSERT_NE(nullptr, name);
    EXPECT_EQ(path, std::wstring(name));
    CoTaskMemFree(name);
}

TEST_F(BadInputTest, DamagedFilesFailOrPlayWhatTheyHold) {
    const std::vector<uint8_t> good = GoodBytes();
    ASSERT_GT(good.size(), sizeof(kxrec::RecordingHeader) + 64);

    ExpectLoadResult(Damaged(L"empty.kxr", {}), E_FAIL, QuickLimitMs, "an empty file");
    ExpectLoadResult(Damaged(L"half-header.kxr", std::vector<uint8_t>(good.begin(), good.begin() + 20)), E_FAIL,
                     QuickLimitMs, "a file cut inside its header");

    std::vector<uint8_t> noise(good.size());
    uint32_t state = 12345;
    for (uint8_t& byte : noise) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<uint8_t>(state >> 16);
    }
    ExpectLoadResult(Damaged(L"noise.kxr", noise), E_FAIL, QuickLimitMs, "random bytes");

    std::vector<uint8_t> badMagic = good;
    ASSERT_TRUE(ChangeHeaderField(&badMagic, offsetof(kxrec::RecordingHeader, magic), 0x12345678));
    ExpectLoadResult(Damaged(L"magic.kxr", badMagic), E_FAIL, QuickLimitMs, "a wrong magic number");

    std::vector<uint8_t> badCrc = good;
    badCrc[offsetof(kxrec::RecordingHeader, headerCrc)] ^= 0x01;
    ExpectLoadResult(Damaged(L"crc.kxr", badCrc), E_FAIL, QuickLimitMs, "a header with a wrong checksum");

    // Cut after the header: no picture arrives, so the size wait runs out.
    ExpectLoadResult(Damaged(L"header-only.kxr",
                             std::vector<uint8_t>(good.begin(), good.begin() + sizeof(kxrec::RecordingHeader))),
                     E_OUTOFMEMORY, SizeWaitLimitMs, "a file cut after its header");

    // Cut in the middle: the pictures before the cut still load.
    ExpectLoadResult(Damaged(L"cut.kxr", std::vector<uint8_t>(good.begin(), good.begin() + good.size() / 2)), S_OK,
                     QuickLimitMs, "a file cut in the middle");
}

TEST_F(BadInputTest, PictureSizesOutsideTheLimitsAreRefused) {
    RecordingPlan oversize;
    oversize.Width = 4096;
    oversize.Height = 2176;
    oversize.DurationMs = 400;
    ExpectLoadResult(Recording(L"oversize.kxr", oversize), E_OUTOFMEMORY, SizeWaitLimitMs, "4096x2176 pictures");

    RecordingPlan largest;
    largest.Width = 4096;
    largest.Height = 2160;
    largest.DurationMs = 400;
    ExpectLoadResult(Recording(L"largest.kxr", largest), S_OK, QuickLimitMs, "4096x2160 pictures");
}

TEST_F(BadInputTest, RecordingsWithoutPicturesOrWithoutSound) {
    RecordingPlan soundOnly;
    soundOnly.NoPictures = true;
    soundOnly.DurationMs = 400;
    ExpectLoadResult(Recording(L"sound-only.kxr", soundOnly), E_OUTOFMEMORY, SizeWaitLimitMs, "a file without pictures");

    RecordingPlan silent;
    silent.Sound = false;
    silent.DurationMs = 400;
    ExpectLoadResult(Recording(L"silent.kxr", silent), S_OK, QuickLimitMs, "a file without sound");
}

TEST_F(BadInputTest, SizeChangesNeverOverrunTheSampleBuffer) {
    RecordingPlan plan;
    plan.DurationMs = 1200;
    plan.ChangeAtFrame = 10;
    const uint32_t changes[][2] = {{704, 576}, {352, 144}, {176, 288}};
    for (const auto& change : changes) {
        plan.ChangedWidth = change[0];
        plan.ChangedHeight = change[1];
        ComPtr<IBaseFilter> filter;
        ASSERT_EQ(S_OK, LoadFile(Recording(L"changes.kxr", plan), &filter));
        SinkHandle sink = MakeSink(SinkFault::None);
        ASSERT_NO_FATAL_FAILURE(PlayPinToEnd(filter.Get(), L"1", sink.get()));
        std::lock_guard<std::mutex> hold(sink->Mutex);
        EXPECT_GE(sink->Receives, 10) << "the pictures before the change were lost (" << change[0] << "x" << change[1] << ")";
        EXPECT_EQ(0, sink->BadSamples) << "a sample claims more bytes than its buffer (" << change[0] << "x" << change[1] << ")";
    }
}

TEST_F(BadInputTest, MissingInformationNoticeFailsTheLoadAfterOneWait) {
    RecordingPlan plan;
    plan.DurationMs = 400;
    std::vector<uint8_t> bytes = ReadWholeFile(Recording(L"quiet.kxr", plan));
    ASSERT_TRUE(ChangeHeaderField(&bytes, offsetof(kxrec::RecordingHeader, infoDelayMs), 0xFFFFFFFFu));
    // One wait of 10 s for the notice; asked directly, the library knows no
    // duration either, and without one no seek could be placed.
    ExpectLoadResult(Damaged(L"never-informs.kxr", bytes), VFW_E_TIMEOUT, 20000, "a file whose notice never comes");
}

TEST_F(BadInputTest, LibraryLackingAFunctionIsRefusedWhole) {
    RecordingPlan plan;
    plan.DurationMs = 400;
    const std::wstring recording = Recording(L"partial.kxr", plan);
    wchar_t exe[MAX_PATH];
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring bin(exe);
    bin.resize(bin.find_last_of(L'\\') + 1);
    const std::wstring program = Temp.File(L"child.exe");
    ASSERT_TRUE(CopyFileW(exe, program.c_str(), FALSE));
    const std::wstring module = CopyModuleInto(Temp.File(L""));
    ASSERT_FALSE(module.empty());
    ASSERT_TRUE(CopyFileW((bin + L"PartialVUVezaVID.dll").c_str(), Temp.File(L"VUVezaVID.dll").c_str(), FALSE));

    DWORD code = 0;
    ASSERT_TRUE(RunChildProcess(program, L"--load-child \"" + module + L"\" \"" + recording + L"\"", 60000, &code))
        << "the child did not start or did not finish within 60 s";
    EXPECT_EQ(static_cast<DWORD>(E_FAIL), code) << "Load with a library that lacks a function";
    ExpectGoodLoad();
}

}  // namespace
