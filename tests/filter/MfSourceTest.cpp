// The module's Media Foundation front, as MF applications meet it: the
// source reader opens a recording from its path alone through the handler
// registered for the extension and reads every picture and all the sound in
// place; a seek lands on the picture asked for; the source's events, its end
// and its shutdown with requests outstanding; the failures of creation; and
// the handler's registry keys.
#include "DeliveryChecks.h"
#include "FilterTest.h"
#include "ModuleSetup.h"

#include "common/AsyncResultWait.h"
#include "common/KXVDSrcClsid.h"
#include "mf/ByteStreamHandlerInterface.h"

#include <dshow.h>
#include <mfapi.h>
#include <mferror.h>
#include <mfreadwrite.h>
#include <wrl/client.h>

#include <future>
#include <vector>

using Microsoft::WRL::ComPtr;

// mfplat's, left out of mingw-w64's headers.
extern "C" HRESULT WINAPI MFCreateMFByteStreamOnStream(IStream* stream, IMFByteStream** byteStream);

namespace {

constexpr DWORD ReadLimitMs = 60000;
constexpr DWORD EventLimitMs = 10000;
const wchar_t HandlersKey[] = L"Software\\Microsoft\\Windows Media Foundation\\ByteStreamHandlers";

std::wstring HandlerValueName() {
    wchar_t text[39];
    StringFromGUID2(CLSID_KXVDByteStreamHandler, text, 39);
    return text;
}

bool HasValue(const std::wstring& key, const std::wstring& name, std::wstring* data = nullptr) {
    wchar_t text[256] = {};
    DWORD bytes = sizeof(text) - sizeof(wchar_t);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), name.c_str(), RRF_RT_REG_SZ, nullptr, text, &bytes) !=
        ERROR_SUCCESS) {
        return false;
    }
    if (data) *data = text;
    return true;
}

class MfSourceTest : public FilterTest {
protected:
    void SetUp() override {
        FilterTest::SetUp();
        ASSERT_EQ(S_OK, MFStartup(MF_VERSION, MFSTARTUP_FULL));
        ASSERT_EQ(S_OK, InstallFileTypes(true, L".kxm"));
    }
    void TearDown() override {
        EXPECT_EQ(S_OK, InstallFileTypes(false, nullptr));
        EXPECT_TRUE(RegisterModule());
        MFShutdown();
        // Shut down and released, a source and its streams are gone: they
        // hold picture buffers, and the module could never unload.
        if (ModuleIsLoaded()) {
            EXPECT_EQ(S_OK, ModuleCanUnloadNow()) << "an object of the module outlived the test";
        }
        FilterTest::TearDown();
    }

    // Through the module's handler, as the source resolver calls it.
    HRESULT CreateSource(const wchar_t* url, IMFByteStream* stream, ComPtr<IMFMediaSource>* source) {
        ComPtr<IMFByteStreamHandler> handler;
        HRESULT hr = CoCreateInstance(CLSID_KXVDByteStreamHandler, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_IMFByteStreamHandler, reinterpret_cast<void**>(handler.GetAddressOf()));
        if (FAILED(hr)) return hr;
        const ComPtr<CAsyncResultWait> wait = CAsyncResultWait::Make();
        if (!wait) return E_OUTOFMEMORY;
        hr = handler->BeginCreateObject(stream, url, MF_RESOLUTION_MEDIASOURCE, nullptr, nullptr, wait.Get(), nullptr);
        if (FAILED(hr)) return hr;
        const ComPtr<IMFAsyncResult> result = wait->Await(EventLimitMs);
        if (!result) return E_ABORT;
        MF_OBJECT_TYPE type = MF_OBJECT_INVALID;
        ComPtr<IUnknown> created;
        hr = handler->EndCreateObject(result.Get(), &type, &created);
        return SUCCEEDED(hr) ? created.As(source) : hr;
    }

    // The generator's events up to and including last (MEUnknown: whatever
    // came within the bound), with the streams MENewStream carried.
    std::vector<MediaEventType> EventsUntil(IMFMediaEventGenerator* generator, MediaEventType last,
                                            std::vector<ComPtr<IMFMediaStream>>* streams = nullptr,
                                            DWORD limitMs = EventLimitMs) {
        std::vector<MediaEventType> seen;
        const DWORD began = GetTickCount();
        while (GetTickCount() - began < limitMs && (seen.empty() || seen.back() != last)) {
            ComPtr<IMFMediaEvent> event;
            if (FAILED(generator->GetEvent(MF_EVENT_FLAG_NO_WAIT, &event))) {
                MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
                continue;
            }
            MediaEventType type = MEUnknown;
            event->GetType(&type);
            seen.push_back(type);
            PROPVARIANT value;
            PropVariantInit(&value);
            event->GetValue(&value);
            ComPtr<IMFMediaStream> stream;
            if (streams && type == MENewStream && value.vt == VT_UNKNOWN &&
                SUCCEEDED(value.punkVal->QueryInterface(IID_PPV_ARGS(&stream)))) {
                streams->push_back(stream);
            }
            PropVariantClear(&value);
        }
        return seen;
    }

    struct ReadOut {
        HRESULT Result = E_ABORT;
        std::vector<DeliveredSample> Pictures;
        std::vector<DeliveredSample> Sound;
        UINT32 RateNumerator = 0;
        UINT32 RateDenominator = 0;
    };

    // The sync source reader from the path alone, every sample to the end of
    // both streams; from seekTo (100-ns units) when at least 0, after a few
    // samples from the start. On a thread of its own, so a hang fails the
    // test instead of holding it.
    ReadOut ReadAll(const std::wstring& path, const RecordingPlan& plan, LONGLONG seekTo = -1) {
        auto read = std::async(std::launch::async, [&] {
            ReadOut out;
            CSampleLog pictures(CSampleLog::Kind::Video, plan.Width, plan.Height);
            CSampleLog sound(CSampleLog::Kind::Audio);
            ComPtr<IMFSourceReader> reader;
            out.Result = MFCreateSourceReaderFromURL(path.c_str(), nullptr, &reader);
            if (FAILED(out.Result)) return out;
            ComPtr<IMFMediaType> type;
            if (SUCCEEDED(reader->GetCurrentMediaType(0, &type))) {
                MFGetAttributeRatio(type.Get(), MF_MT_FRAME_RATE, &out.RateNumerator, &out.RateDenominator);
            }
            int ended = plan.Sound ? 2 : 1;
            int beforeSeek = seekTo >= 0 ? 5 : -1;
            while (ended > 0) {
                if (beforeSeek-- == 0) {
                    PROPVARIANT position;
                    PropVariantInit(&position);
                    position.vt = VT_I8;
                    position.hVal.QuadPart = seekTo;
                    out.Result = reader->SetCurrentPosition(GUID_NULL, position);
                    out.Pictures.clear();
                    out.Sound.clear();
                    if (FAILED(out.Result)) return out;
                }
                DWORD index = 0, flags = 0;
                LONGLONG time = 0;
                ComPtr<IMFSample> sample;
                out.Result = reader->ReadSample(MF_SOURCE_READER_ANY_STREAM, 0, &index, &flags, &time, &sample);
                if (FAILED(out.Result)) return out;
                if (flags & MF_SOURCE_READERF_ENDOFSTREAM) --ended;
                if (!sample) continue;
                DeliveredSample entry;
                LONGLONG duration = 0;
                entry.HasTime = SUCCEEDED(sample->GetSampleTime(&entry.Start)) &&
                                SUCCEEDED(sample->GetSampleDuration(&duration));
                entry.Stop = entry.Start + duration;
                entry.Discontinuity = MFGetAttributeUINT32(sample.Get(), MFSampleExtension_Discontinuity, 0) != 0;
                ComPtr<IMFMediaBuffer> buffer;
                BYTE* data = nullptr;
                DWORD length = 0, capacity = 0;
                if (SUCCEEDED(sample->ConvertToContiguousBuffer(&buffer)) &&
                    SUCCEEDED(buffer->Lock(&data, &capacity, &length))) {
                    (index == 0 ? pictures : sound).Judge(data, static_cast<long>(length),
                                                          static_cast<long>(capacity), &entry);
                    buffer->Unlock();
                }
                (index == 0 ? out.Pictures : out.Sound).push_back(entry);
            }
            return out;
        });
        if (read.wait_for(std::chrono::milliseconds(ReadLimitMs)) != std::future_status::ready) {
            ADD_FAILURE() << "the source reader did not reach the end of both streams within 60 s";
            std::abort();
        }
        return read.get();
    }
};

}  // namespace

TEST_F(MfSourceTest, SourceReaderReadsEveryPictureAndAllSoundInPlace) {
    // 25, 30 and 7.5 pictures a second: the frame rate keeps its ratio and
    // picture n starts at n x the exact period, as on the filter's pins.
    const UINT32 rates[][2] = {{25, 1}, {30, 1}, {15, 2}};
    for (const auto& rate : rates) {
        RecordingPlan plan;
        plan.Fps = rate[0];
        plan.FpsDen = rate[1];
        plan.DurationMs = 4000;
        const std::wstring path = Recording((L"every" + std::to_wstring(rate[0]) + L".kxm").c_str(), plan);
        const ReadOut out = ReadAll(path, plan);
        ASSERT_EQ(S_OK, out.Result) << rate[0] << "/" << rate[1];
        EXPECT_EQ(rate[0], out.RateNumerator);
        EXPECT_EQ(rate[1], out.RateDenominator);
        EXPECT_TRUE(PicturesInPlace(out.Pictures, plan.FrameCount(), 1e7 * plan.FpsDen / plan.Fps))
            << rate[0] << "/" << rate[1];
        EXPECT_TRUE(out.Pictures.empty() || out.Pictures[0].Discontinuity);
        EXPECT_TRUE(SoundInOrder(out.Sound, 0, plan.DurationMs / 50, 800, 500000)) << rate[0] << "/" << rate[1];
    }
}

TEST_F(MfSourceTest, SetCurrentPositionStartsWithThePictureAskedFor) {
    RecordingPlan plan;
    plan.DurationMs = 4000;
    const std::wstring path = Recording(L"seek.kxm", plan);
    constexpr int64_t picture = 37;
    const ReadOut out = ReadAll(path, plan, picture * 400000);
    ASSERT_EQ(S_OK, out.Result);
    // Stamped from the position on, the pictures and the sound in place.
    auto shifted = [](std::vector<DeliveredSample> samples) {
        for (DeliveredSample& sample : samples) {
            sample.Start -= picture * 400000;
            sample.Stop -= picture * 400000;
        }
        return samples;
    };
    EXPECT_TRUE(PicturesInOrder(shifted(out.Pictures), picture, plan.FrameCount() - picture, 400000));
    ASSERT_FALSE(out.Sound.empty());
    EXPECT_NEAR(picture * 40 * 8, out.Sound[0].FirstTone, 40 * 8) << "the sound from the picture's millisecond";
    EXPECT_TRUE(SoundInOrder(shifted(out.Sound), out.Sound[0].FirstTone, out.Sound.size(), 800, 500000));
}

TEST_F(MfSourceTest, EventsOfAPlayAnEndAtTheDurationAndAShutdownWithRequestsOutstanding) {
    RecordingPlan plan;
    plan.DurationMs = 2000;
    const std::wstring path = Recording(L"events.kxm", plan);
    ComPtr<IMFMediaSource> source;
    ASSERT_EQ(S_OK, CreateSource(path.c_str(), nullptr, &source));
    DWORD characteristics = 0;
    source->GetCharacteristics(&characteristics);
    EXPECT_EQ(static_cast<DWORD>(MFMEDIASOURCE_CAN_SEEK | MFMEDIASOURCE_CAN_PAUSE), characteristics);
    ComPtr<IMFPresentationDescriptor> presentation;
    ASSERT_EQ(S_OK, source->CreatePresentationDescriptor(&presentation));
    UINT64 duration = 0;
    presentation->GetUINT64(MF_PD_DURATION, &duration);
    EXPECT_EQ(20000000u, duration);

    // A start at the duration ends both streams at once.
    PROPVARIANT position;
    PropVariantInit(&position);
    position.vt = VT_I8;
    position.hVal.QuadPart = static_cast<LONGLONG>(duration);
    const DWORD started = GetTickCount();
    ASSERT_EQ(S_OK, source->Start(presentation.Get(), nullptr, &position));
    std::vector<ComPtr<IMFMediaStream>> streams;
    EXPECT_EQ((std::vector<MediaEventType>{MENewStream, MENewStream, MESourceStarted}),
              EventsUntil(source.Get(), MESourceStarted, &streams));
    ASSERT_EQ(2u, streams.size());
    // No request is answered before the source's events have been read past
    // the start (Wine's reader, given a sample first, starts the source
    // again), unless 2 s pass: on a machine too loaded to look within that
    // bound the early events are not judged.
    std::vector<std::vector<MediaEventType>> seen;
    for (const ComPtr<IMFMediaStream>& stream : streams) {
        ASSERT_EQ(S_OK, stream->RequestSample(nullptr));
        seen.push_back(EventsUntil(stream.Get(), MEEndOfStream, nullptr, 250));
    }
    if (GetTickCount() - started < 2000) {
        for (const std::vector<MediaEventType>& early : seen) {
            EXPECT_EQ(std::vector<MediaEventType>{MEStreamStarted}, early) << "answered before the start's event";
        }
    }
    // Coming back for the source's events lets the ends go.
    EXPECT_EQ(std::vector<MediaEventType>{MEEndOfPresentation}, EventsUntil(source.Get(), MEEndOfPresentation));
    for (size_t i = 0; i < streams.size(); ++i) {
        if (seen[i].empty() || seen[i].back() != MEEndOfStream) {
            const std::vector<MediaEventType> rest = EventsUntil(streams[i].Get(), MEEndOfStream);
            seen[i].insert(seen[i].end(), rest.begin(), rest.end());
        }
        EXPECT_EQ((std::vector<MediaEventType>{MEStreamStarted, MEEndOfStream}), seen[i]);
        EXPECT_EQ(MF_E_END_OF_STREAM, streams[i]->RequestSample(nullptr));
    }

    // A seek back to the start while running: samples flow again.
    position.hVal.QuadPart = 0;
    ASSERT_EQ(S_OK, source->Start(presentation.Get(), nullptr, &position));
    EXPECT_EQ((std::vector<MediaEventType>{MEUpdatedStream, MEUpdatedStream, MESourceSeeked}),
              EventsUntil(source.Get(), MESourceSeeked));
    for (const ComPtr<IMFMediaStream>& stream : streams) {
        for (int i = 0; i < 3; ++i) ASSERT_EQ(S_OK, stream->RequestSample(nullptr));
        EXPECT_EQ((std::vector<MediaEventType>{MEStreamSeeked, MEMediaSample}), EventsUntil(stream.Get(), MEMediaSample));
        for (int i = 0; i < 8; ++i) ASSERT_EQ(S_OK, stream->RequestSample(nullptr));
    }

    // Shutdown mid-playback with requests outstanding returns at once, and
    // everything after it is refused.
    const DWORD began = GetTickCount();
    EXPECT_EQ(S_OK, source->Shutdown());
    EXPECT_LT(GetTickCount() - began, 5000u);
    EXPECT_EQ(MF_E_SHUTDOWN, source->Start(presentation.Get(), nullptr, &position));
    EXPECT_EQ(MF_E_SHUTDOWN, source->Shutdown());
    ComPtr<IMFMediaEvent> event;
    EXPECT_EQ(MF_E_SHUTDOWN, source->GetEvent(MF_EVENT_FLAG_NO_WAIT, &event));
    // A reader may still hold the streams, and call them, when the
    // application has let go of the source.
    source.Reset();
    presentation.Reset();
    for (const ComPtr<IMFMediaStream>& stream : streams) {
        EXPECT_EQ(MF_E_SHUTDOWN, stream->RequestSample(nullptr));
        ComPtr<IMFMediaSource> owner;
        EXPECT_EQ(MF_E_SHUTDOWN, stream->GetMediaSource(&owner));
    }
}

TEST_F(MfSourceTest, CreationFailsAsLoadDoesAndRefusesAStreamWithoutAPath) {
    const std::wstring missing = Temp.File(L"missing.kxm");
    const std::wstring refused = Temp.File(L"refused.kxm");
    HANDLE file = CreateFileW(refused.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    DWORD written = 0;
    WriteFile(file, "not a recording at all", 22, &written, nullptr);
    CloseHandle(file);
    for (const std::wstring& path : {missing, refused}) {
        ComPtr<IFileSourceFilter> filter;
        ASSERT_EQ(S_OK, CoCreateInstance(CLSID_KXVDSource, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&filter)));
        const HRESULT loaded = filter->Load(path.c_str(), nullptr);
        EXPECT_TRUE(FAILED(loaded));
        ComPtr<IMFMediaSource> source;
        EXPECT_EQ(loaded, CreateSource(path.c_str(), nullptr, &source));
    }

    ComPtr<IStream> memory;
    ASSERT_EQ(S_OK, CreateStreamOnHGlobal(nullptr, TRUE, &memory));
    ComPtr<IMFByteStream> stream;
    ASSERT_EQ(S_OK, MFCreateMFByteStreamOnStream(memory.Get(), &stream));
    ComPtr<IMFMediaSource> source;
    EXPECT_EQ(MF_E_UNSUPPORTED_BYTESTREAM_TYPE, CreateSource(nullptr, stream.Get(), &source));
}

TEST_F(MfSourceTest, HandlerKeysFollowTheExtensionsAndGiveAnotherHandlerBack) {
    const std::wstring ours = HandlerValueName();
    const std::wstring other = L"{0B6B2E59-5F5E-4E43-9A41-8AB2F07C7F2E}";
    const std::wstring otherKey = std::wstring(HandlersKey) + L"\\.kxo";
    const std::wstring kxmKey = std::wstring(HandlersKey) + L"\\.kxm";
    ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_LOCAL_MACHINE, otherKey.c_str(), other.c_str(), REG_SZ,
                                             L"Other", sizeof(L"Other")));
    EXPECT_TRUE(HasValue(kxmKey, ours));
    ASSERT_EQ(S_OK, InstallFileTypes(true, L".kxo"));
    std::wstring description;
    EXPECT_TRUE(HasValue(otherKey, ours, &description));
    EXPECT_EQ(KXVDByteStreamHandlerName, description);
    EXPECT_FALSE(HasValue(otherKey, other)) << "the other handler is set aside";
    EXPECT_TRUE(HasValue(otherKey, L"KXVD Previous " + other));

    ASSERT_EQ(S_OK, InstallFileTypes(false, nullptr));
    EXPECT_FALSE(HasValue(otherKey, ours));
    EXPECT_TRUE(HasValue(otherKey, other, &description)) << "the other handler is back";
    EXPECT_EQ(L"Other", description);
    EXPECT_FALSE(HasValue(otherKey, L"KXVD Previous " + other));
    HKEY gone = nullptr;
    EXPECT_NE(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, kxmKey.c_str(), 0, KEY_READ, &gone))
        << "a key that only named us goes";
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, otherKey.c_str());

    // The class itself is registered as the resolver needs it.
    const std::wstring server = L"CLSID\\" + ours + L"\\InprocServer32";
    wchar_t model[32] = {};
    DWORD bytes = sizeof(model);
    EXPECT_EQ(ERROR_SUCCESS, RegGetValueW(HKEY_CLASSES_ROOT, server.c_str(), L"ThreadingModel", RRF_RT_REG_SZ,
                                          nullptr, model, &bytes));
    EXPECT_STREQ(L"Both", model);
}
