// Damaged recordings fed to the stand-in playback library: bits flipped, the
// end cut off, and header fields changed with the header's checksum sealed
// again so the library believes them. Through the media file object (every
// file read out until nothing more can come, every wait bounded) and through
// the filter linked into this test (loaded, played to the end of both
// streams, released, with no framework object left alive). Nothing may
// crash, hang or break the invariants.
#include "CrashReport.h"
#include "FaultySink.h"
#include "RecordingMutation.h"
#include "Soak.h"

#include "filter/SrcFilter.h"
#include "framework/BaseObject.h"
#include "common/WidePath.h"
#include "recording/RecordingWriter.h"
#include "reader/KXFile.h"
#include "reader/PlayLibrary.h"

#include <dshow.h>
#include <gtest/gtest.h>
#include <uuids.h>

#include <cstring>
#include <mutex>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int32_t HighWaterMark = 50;
constexpr DWORD DrainLimitMs = 20000;

std::wstring BinFolder() {
    std::wstring exe;
    CWidePath::OfModule(nullptr, &exe);
    return CWidePath::FolderOf(exe);
}

std::wstring TempFile(const std::wstring& name) {
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    return std::wstring(base) + L"kxfuzz-" + std::to_wstring(GetCurrentProcessId()) + L"-" + name;
}

std::vector<uint8_t> BaseRecording() {
    const std::wstring path = TempFile(L"base.kxr");
    kxrec::CRecordingWriter writer;
    kxrec::RecordingSettings settings;
    settings.width = 176;
    settings.height = 144;
    EXPECT_TRUE(writer.Begin(path, settings)) << writer.LastError();
    uint32_t sample = 0;
    for (uint32_t frame = 0; frame < 40; ++frame) {
        EXPECT_TRUE(writer.AddTestPicture(frame * 40, frame, 176, 144)) << writer.LastError();
        EXPECT_TRUE(writer.AddTone(sample, 320)) << writer.LastError();
        sample += 320;
    }
    EXPECT_TRUE(writer.Commit()) << writer.LastError();
    std::vector<uint8_t> bytes = ReadWholeFile(path);
    DeleteFileW(path.c_str());
    return bytes;
}

class Mutator {
public:
    explicit Mutator(uint32_t seed) : Random(seed) {}

    std::vector<uint8_t> Mutate(const std::vector<uint8_t>& base, std::string* what) {
        std::vector<uint8_t> bytes = base;
        switch (Random() % 3) {
        case 0: {
            const uint32_t flips = 1 + Random() % 8;
            for (uint32_t i = 0; i < flips; ++i) bytes[Random() % bytes.size()] ^= static_cast<uint8_t>(1u << (Random() % 8));
            *what = std::to_string(flips) + " bits flipped";
            break;
        }
        case 1:
            bytes.resize(Random() % bytes.size());
            *what = "cut to " + std::to_string(bytes.size()) + " bytes";
            break;
        default: {
            const size_t field = Random() % HeaderFieldCount;
            uint32_t old = 0;
            std::memcpy(&old, bytes.data() + field * 4, 4);
            const uint32_t values[] = {0, 1, 0xFFFFFFFFu, 0x7FFFFFFFu, static_cast<uint32_t>(Random()), old * 2, old + 1};
            const uint32_t value = values[Random() % 7];
            ChangeHeaderField(&bytes, field * 4, value);
            *what = "header field " + std::to_string(field) + " set to " + std::to_string(value);
            break;
        }
        }
        return bytes;
    }

private:
    std::mt19937 Random;
};

// Reads everything the file gives, as the two streams would, until no
// picture can come and the sound has ended or stopped coming.
void Drain(CKXFile* file) {
    const int32_t size = file->State().PictureBytes;
    std::vector<uint8_t> picture(size > 0 ? static_cast<size_t>(size) : 1);
    std::vector<uint8_t> sound(800);
    const DWORD begin = GetTickCount();
    file->SetSoundConsumer(true);
    for (;;) {
        ASSERT_LE(file->QueuedPictureCount(), HighWaterMark + 1) << "the queue outgrew flow control";
        ASSERT_LT(GetTickCount() - begin, DrainLimitMs) << "the file did not drain within " << DrainLimitMs << " ms";
        const int32_t queued = file->QueuedPictureCount();
        const bool read = file->ReadVideoFrame(picture.data(), static_cast<int32_t>(picture.size()));
        ASSERT_TRUE(read || queued == 0) << "a queued picture did not fit a buffer of the picture size";
        while (file->ReadAudio(sound.data(), 800)) {
        }
        if (!read && !file->AwaitPictures(nullptr)) break;
        if (!read) WaitForSingleObject(file->PictureEvent(), 50);
    }
    file->SetSoundConsumer(false);
}

TEST(MutatedRecordings, MediaFileObjectSurvivesDamagedFiles) {
    const std::vector<uint8_t> base = BaseRecording();
    ASSERT_GT(base.size(), 200u);
    CPlayLibrary library((BinFolder() + L"VUVezaVID.dll").c_str());
    ASSERT_NE(nullptr, library.Api()) << "the stand-in library did not load";
    CKXFile::WaitLimits waits;
    waits.SizeMs = 1000;
    waits.InfoMs = 500;
    Mutator mutator(2026);
    const std::wstring path = TempFile(L"mutated.kxr");
    uint32_t opened = 0;
    const uint32_t files = Rounds(300);
    for (uint32_t i = 0; i < files; ++i) {
        std::string what;
        ASSERT_TRUE(WriteWholeFile(path, mutator.Mutate(base, &what)));
        NoteActivity("reading a damaged recording");
        CKXFile file(library.Api(), waits);
        if (!file.OpenFile(path.c_str())) continue;
        ++opened;
        int32_t width = 0, height = 0;
        if (file.GetVideoSize(&width, &height)) {
            EXPECT_TRUE(width >= 1 && width <= 4096 && height >= 1 && height <= 2160) << what;
        }
        file.GetDurationMs();
        file.GetFrameRate();
        ASSERT_NO_FATAL_FAILURE(Drain(&file)) << "file " << i << ": " << what;
        if (i % 4 == 0 && file.GetDurationMs() > 0) {
            file.SeekTo(file.GetDurationMs() / 2);
            ASSERT_NO_FATAL_FAILURE(Drain(&file)) << "after a seek, file " << i << ": " << what;
        }
    }
    DeleteFileW(path.c_str());
    EXPECT_GT(opened, files / 4) << "too few damaged files opened to test anything";
    RecordProperty("DamagedFiles", std::to_string(files));
    RecordProperty("Opened", std::to_string(opened));
}

TEST(MutatedRecordings, FilterLoadsPlaysAndReleasesDamagedFiles) {
    const std::vector<uint8_t> base = BaseRecording();
    ASSERT_GT(base.size(), 200u);
    ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    {
        // The filter's pins fall back on the platform's allocator.
        IMemAllocator* allocator = nullptr;
        ASSERT_EQ(S_OK, CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                                         reinterpret_cast<void**>(&allocator)));
        allocator->Release();
    }
    const LONG aliveBefore = LiveObjectCount;
    Mutator mutator(77);
    const std::wstring path = TempFile(L"filter-mutated.kxr");
    const uint32_t files = Rounds(24);
    for (uint32_t i = 0; i < files; ++i) {
        std::string what;
        ASSERT_TRUE(WriteWholeFile(path, mutator.Mutate(base, &what)));
        NoteActivity("playing a damaged recording through the filter");
        HRESULT created = S_OK;
        CUnknown* object = CreateSrcFilter(nullptr, &created);
        ASSERT_NE(nullptr, object);
        IBaseFilter* filter = nullptr;
        ASSERT_EQ(S_OK, object->InnerQueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(&filter)));
        IFileSourceFilter* source = nullptr;
        ASSERT_EQ(S_OK, filter->QueryInterface(IID_IFileSourceFilter, reinterpret_cast<void**>(&source)));
        const HRESULT loaded = source->Load(path.c_str(), nullptr);
        source->Release();
        EXPECT_TRUE(loaded == S_OK || loaded == E_FAIL || loaded == E_OUTOFMEMORY || loaded == VFW_E_TIMEOUT)
            << what << ": " << std::hex << loaded;
        if (loaded == S_OK) {
            IPin* pins[2] = {};
            SinkHandle sinks[2] = {MakeSink(SinkFault::None), MakeSink(SinkFault::None)};
            ASSERT_EQ(S_OK, filter->FindPin(L"1", &pins[0]));
            ASSERT_EQ(S_OK, filter->FindPin(L"2", &pins[1]));
            for (int p = 0; p < 2; ++p) ASSERT_EQ(S_OK, pins[p]->Connect(sinks[p].get(), nullptr)) << "pin " << p + 1 << ": " << what;
            ASSERT_EQ(S_OK, filter->Pause());
            ASSERT_TRUE(SUCCEEDED(filter->Run(0)));
            for (int p = 0; p < 2; ++p) {
                CFaultySink* sink = sinks[p].get();
                EXPECT_TRUE(sink->WaitFor([sink] { return sink->EndOfStreams > 0; }, 30000))
                    << "pin " << p + 1 << " never ended: " << what;
                std::lock_guard<std::mutex> hold(sink->Mutex);
                EXPECT_EQ(0, sink->BadSamples) << what;
            }
            EXPECT_EQ(S_OK, filter->Stop());
            for (int p = 0; p < 2; ++p) {
                pins[p]->Disconnect();
                sinks[p]->Disconnect();
                pins[p]->Release();
            }
        }
        filter->Release();
        EXPECT_EQ(aliveBefore, LiveObjectCount) << "an object outlived its filter: " << what;
    }
    DeleteFileW(path.c_str());
    CoUninitialize();
}

}  // namespace

TEST(MutatedRecordings, FilterWithoutPictureBuffersAbortsTheGraphInsteadOfEndingShort) {
    const std::wstring path = TempFile(L"no-buffers.kxr");
    ASSERT_TRUE(WriteWholeFile(path, BaseRecording()));
    ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    {
        IGraphBuilder* graph = nullptr;
        ASSERT_EQ(S_OK, CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                         reinterpret_cast<void**>(&graph)));
        HRESULT created = S_OK;
        CUnknown* object = CreateSrcFilter(nullptr, &created);
        ASSERT_NE(nullptr, object);
        IBaseFilter* filter = nullptr;
        ASSERT_EQ(S_OK, object->InnerQueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(&filter)));
        ASSERT_EQ(S_OK, graph->AddFilter(filter, L"source"));
        IFileSourceFilter* source = nullptr;
        ASSERT_EQ(S_OK, filter->QueryInterface(IID_IFileSourceFilter, reinterpret_cast<void**>(&source)));
        // Not one picture buffer can be had from the start.
        CFramePool::LimitNewBuffers(0);
        const HRESULT loaded = source->Load(path.c_str(), nullptr);
        source->Release();
        ASSERT_EQ(S_OK, loaded);
        IPin* video = nullptr;
        ASSERT_EQ(S_OK, filter->FindPin(L"1", &video));
        SinkHandle sink = MakeSink(SinkFault::None);
        ASSERT_EQ(S_OK, video->Connect(sink.get(), nullptr));
        ASSERT_EQ(S_OK, filter->Pause());
        ASSERT_TRUE(SUCCEEDED(filter->Run(0)));
        IMediaEvent* events = nullptr;
        ASSERT_EQ(S_OK, graph->QueryInterface(IID_IMediaEvent, reinterpret_cast<void**>(&events)));
        long code = 0;
        LONG_PTR first = 0, second = 0;
        bool aborted = false;
        while (!aborted && events->GetEvent(&code, &first, &second, 20000) == S_OK) {
            aborted = code == EC_ERRORABORT && static_cast<HRESULT>(first) == E_OUTOFMEMORY;
            events->FreeEventParams(code, first, second);
        }
        CFramePool::LimitNewBuffers(-1);
        EXPECT_TRUE(aborted) << "no EC_ERRORABORT with E_OUTOFMEMORY within 20 s";
        {
            std::lock_guard<std::mutex> hold(sink->Mutex);
            EXPECT_EQ(0, sink->Receives);
        }
        EXPECT_EQ(S_OK, filter->Stop());
        video->Disconnect();
        sink->Disconnect();
        video->Release();
        events->Release();
        graph->RemoveFilter(filter);
        filter->Release();
        graph->Release();
    }
    DeleteFileW(path.c_str());
    CoUninitialize();
}
