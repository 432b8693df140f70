// Loading a recording: the pins and media types it gives, and every way a
// load can fail.
#include "FilterTest.h"
#include "ModuleSetup.h"

#include "common/WidePath.h"
#include "common/KXVDSrcClsid.h"

#include <dshow.h>

#include <amvideo.h>
#include <mmreg.h>
#include <uuids.h>
#include <wrl/client.h>

using Microsoft::WRL::ComPtr;

namespace {

ComPtr<IBaseFilter> NewFilter() {
    ComPtr<IBaseFilter> filter;
    EXPECT_EQ(S_OK, CoCreateInstance(CLSID_KXVDSource, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&filter)));
    return filter;
}

HRESULT LoadFile(IBaseFilter* filter, const std::wstring& path) {
    ComPtr<IFileSourceFilter> source;
    EXPECT_EQ(S_OK, filter->QueryInterface(IID_PPV_ARGS(&source)));
    return source ? source->Load(path.c_str(), nullptr) : E_NOINTERFACE;
}

int PinCount(IBaseFilter* filter) {
    ComPtr<IEnumPins> pins;
    filter->EnumPins(&pins);
    int count = 0;
    ComPtr<IPin> pin;
    while (pins->Next(1, &pin, nullptr) == S_OK) {
        ++count;
        pin.Reset();
    }
    return count;
}

// The one media type a pin offers.
AM_MEDIA_TYPE* OfferedType(IPin* pin) {
    ComPtr<IEnumMediaTypes> types;
    if (FAILED(pin->EnumMediaTypes(&types))) return nullptr;
    AM_MEDIA_TYPE* type = nullptr;
    return types->Next(1, &type, nullptr) == S_OK ? type : nullptr;
}

void FreeType(AM_MEDIA_TYPE* type) {
    if (!type) return;
    CoTaskMemFree(type->pbFormat);
    if (type->pUnk) type->pUnk->Release();
    CoTaskMemFree(type);
}

class FilterLoadTest : public FilterTest {};

}  // namespace

TEST_F(FilterLoadTest, LoadGivesTheVideoAndAudioPinsWithTheirTypes) {
    RecordingPlan plan;
    const std::wstring path = Recording(L"cif.kxr", plan);
    ComPtr<IBaseFilter> filter = NewFilter();
    ASSERT_TRUE(filter);
    EXPECT_EQ(0, PinCount(filter.Get()));
    ASSERT_EQ(S_OK, LoadFile(filter.Get(), path));
    EXPECT_EQ(2, PinCount(filter.Get()));

    ComPtr<IPin> video, audio;
    ASSERT_EQ(S_OK, filter->FindPin(L"1", &video));
    ASSERT_EQ(S_OK, filter->FindPin(L"2", &audio));
    PIN_INFO info;
    ASSERT_EQ(S_OK, video->QueryPinInfo(&info));
    EXPECT_STREQ(L" Video ", info.achName);
    EXPECT_EQ(PINDIR_OUTPUT, info.dir);
    info.pFilter->Release();
    ASSERT_EQ(S_OK, audio->QueryPinInfo(&info));
    EXPECT_STREQ(L" Audio ", info.achName);
    info.pFilter->Release();
    wchar_t* id = nullptr;
    ASSERT_EQ(S_OK, audio->QueryId(&id));
    EXPECT_STREQ(L"2", id);
    CoTaskMemFree(id);

    AM_MEDIA_TYPE* videoType = OfferedType(video.Get());
    ASSERT_NE(nullptr, videoType);
    EXPECT_TRUE(IsEqualGUID(MEDIATYPE_Video, videoType->majortype));
    EXPECT_TRUE(IsEqualGUID(MEDIASUBTYPE_YUY2, videoType->subtype));
    EXPECT_TRUE(IsEqualGUID(FORMAT_VideoInfo, videoType->formattype));
    ASSERT_EQ(sizeof(VIDEOINFOHEADER), videoType->cbFormat);
    const VIDEOINFOHEADER* vih = reinterpret_cast<const VIDEOINFOHEADER*>(videoType->pbFormat);
    EXPECT_EQ(352, vih->bmiHeader.biWidth);
    EXPECT_EQ(288, vih->bmiHeader.biHeight);
    EXPECT_EQ(202752u, vih->bmiHeader.biSizeImage);
    EXPECT_EQ(400000, vih->AvgTimePerFrame);
    EXPECT_EQ(25u, vih->dwBitRate);
    EXPECT_EQ(16, vih->bmiHeader.biBitCount);
    EXPECT_EQ(MAKEFOURCC('Y', 'U', 'Y', '2'), vih->bmiHeader.biCompression);
    EXPECT_EQ(202752u, videoType->lSampleSize);
    EXPECT_TRUE(videoType->bFixedSizeSamples);

    AM_MEDIA_TYPE* audioType = OfferedType(audio.Get());
    ASSERT_NE(nullptr, audioType);
    EXPECT_TRUE(IsEqualGUID(MEDIATYPE_Audio, audioType->majortype));
    EXPECT_TRUE(IsEqualGUID(MEDIASUBTYPE_PCM, audioType->subtype));
    EXPECT_TRUE(IsEqualGUID(FORMAT_WaveFormatEx, audioType->formattype));
    EXPECT_EQ(800u, audioType->lSampleSize);
    EXPECT_FALSE(audioType->bFixedSizeSamples);
    ASSERT_EQ(sizeof(WAVEFORMATEX), audioType->cbFormat);
    const WAVEFORMATEX* wave = reinterpret_cast<const WAVEFORMATEX*>(audioType->pbFormat);
    EXPECT_EQ(WAVE_FORMAT_PCM, wave->wFormatTag);
    EXPECT_EQ(1, wave->nChannels);
    EXPECT_EQ(8000u, wave->nSamplesPerSec);
    EXPECT_EQ(16000u, wave->nAvgBytesPerSec);
    EXPECT_EQ(2, wave->nBlockAlign);
    EXPECT_EQ(16, wave->wBitsPerSample);

    ComPtr<IFileSourceFilter> source;
    ASSERT_EQ(S_OK, filter.As(&source));
    wchar_t* current = nullptr;
    AM_MEDIA_TYPE currentType = {};
    ASSERT_EQ(S_OK, source->GetCurFile(&current, &currentType));
    EXPECT_STREQ(path.c_str(), current);
    CoTaskMemFree(current);
    EXPECT_EQ(currentType.cbFormat, videoType->cbFormat);
    EXPECT_EQ(0, memcmp(currentType.pbFormat, videoType->pbFormat, videoType->cbFormat));
    CoTaskMemFree(currentType.pbFormat);
    FreeType(videoType);
    FreeType(audioType);

    ComPtr<IMediaSeeking> seeking;
    ASSERT_EQ(S_OK, video.As(&seeking));
    LONGLONG duration = 0;
    EXPECT_EQ(S_OK, seeking->GetDuration(&duration));
    EXPECT_EQ(40000000, duration);
    IMediaPosition* position = nullptr;
    EXPECT_EQ(E_NOINTERFACE, video->QueryInterface(IID_IMediaPosition, reinterpret_cast<void**>(&position)));
    ComPtr<IFileSourceFilter> fromPin;
    ASSERT_EQ(S_OK, audio.As(&fromPin));
    EXPECT_EQ(source.Get(), fromPin.Get());
}

TEST_F(FilterLoadTest, SecondLoadIsRefusedAndKeepsTheFirstFile) {
    RecordingPlan plan;
    const std::wstring first = Recording(L"first.kxr", plan);
    plan.Width = 640;
    plan.Height = 480;
    const std::wstring second = Recording(L"second.kxr", plan);
    ComPtr<IBaseFilter> filter = NewFilter();
    ASSERT_EQ(S_OK, LoadFile(filter.Get(), first));
    ComPtr<IPin> videoBefore;
    ASSERT_EQ(S_OK, filter->FindPin(L"1", &videoBefore));

    EXPECT_EQ(E_UNEXPECTED, LoadFile(filter.Get(), second));
    EXPECT_EQ(2, PinCount(filter.Get()));
    ComPtr<IPin> videoAfter;
    ASSERT_EQ(S_OK, filter->FindPin(L"1", &videoAfter));
    EXPECT_EQ(videoBefore.Get(), videoAfter.Get());
    ComPtr<IFileSourceFilter> source;
    filter.As(&source);
    wchar_t* current = nullptr;
    AM_MEDIA_TYPE type = {};
    ASSERT_EQ(S_OK, source->GetCurFile(&current, &type));
    EXPECT_STREQ(first.c_str(), current);
    CoTaskMemFree(current);
    ASSERT_EQ(sizeof(VIDEOINFOHEADER), type.cbFormat);
    EXPECT_EQ(352, reinterpret_cast<VIDEOINFOHEADER*>(type.pbFormat)->bmiHeader.biWidth);
    CoTaskMemFree(type.pbFormat);
}

TEST_F(FilterLoadTest, NullPathIsRefusedWithoutPins) {
    ComPtr<IBaseFilter> filter = NewFilter();
    ComPtr<IFileSourceFilter> source;
    ASSERT_EQ(S_OK, filter.As(&source));
    EXPECT_EQ(E_POINTER, source->Load(nullptr, nullptr));
    EXPECT_EQ(E_POINTER, source->GetCurFile(nullptr, nullptr));
    EXPECT_EQ(0, PinCount(filter.Get()));
}

TEST_F(FilterLoadTest, MissingFileFailsAndKeepsItsPath) {
    const std::wstring path = Temp.File(L"missing.kxr");
    ComPtr<IBaseFilter> filter = NewFilter();
    EXPECT_EQ(E_FAIL, LoadFile(filter.Get(), path));
    EXPECT_EQ(0, PinCount(filter.Get()));
    ComPtr<IFileSourceFilter> source;
    filter.As(&source);
    wchar_t* current = nullptr;
    AM_MEDIA_TYPE type;
    memset(&type, 0xAB, sizeof(type));
    ASSERT_EQ(S_OK, source->GetCurFile(&current, &type));
    EXPECT_STREQ(path.c_str(), current);
    CoTaskMemFree(current);
    AM_MEDIA_TYPE zero = {};
    EXPECT_EQ(0, memcmp(&zero.majortype, &type.majortype, sizeof(GUID)));
    EXPECT_EQ(nullptr, type.pbFormat);
}

TEST_F(FilterLoadTest, RecordingWithoutPicturesFailsWithTheFileClosed) {
    RecordingPlan plan;
    plan.NoPictures = true;
    plan.DurationMs = 2000;
    const std::wstring path = Recording(L"soundonly.kxr", plan);
    ComPtr<IBaseFilter> filter = NewFilter();
    EXPECT_EQ(E_OUTOFMEMORY, LoadFile(filter.Get(), path));
    EXPECT_EQ(0, PinCount(filter.Get()));
    EXPECT_TRUE(DeleteFileW(path.c_str())) << "the recording is still held open";
}

TEST_F(FilterLoadTest, LoadFailsWhenThePlaybackLibraryIsAbsent) {
    RecordingPlan plan;
    plan.DurationMs = 1000;
    const std::wstring recording = Recording(L"present.kxr", plan);
    DWORD code = 0;
    ASSERT_TRUE(RunBesideLoneModule(Temp.File(L""), L"--library-absent-child \"" + recording + L"\"", &code))
        << "the child did not start or did not finish within 60 s";
    EXPECT_EQ(static_cast<DWORD>(E_FAIL), code);
}

// The README has the modules copied beside the maker's library, in the
// maker's folder whatever its name. Registered from there by regsvr32, the
// class key must name the copy, so that COM creates the filter from it (the
// 64-bit module then starts the KXVDHost.exe beside it). A path taken through
// the code page named a folder of question marks, and one longer than a fixed
// buffer of MAX_PATH was cut, both reported as success.
TEST_F(FilterLoadTest, ModuleRegisteredFromAFolderOutsideTheCodePageNamesItsCopyAndLoadsThroughCom) {
    RecordingPlan plan;
    plan.DurationMs = 1000;
    const std::wstring recording = Recording(L"maker.kxr", plan);
    struct RegisteredAgain {
        ~RegisteredAgain() { EXPECT_TRUE(RegisterModule()) << "the module must stay registered for the other tests"; }
    } restore;
    std::wstring self;
    ASSERT_EQ(S_OK, CWidePath::OfModule(nullptr, &self));
    wchar_t system[MAX_PATH] = {};
    ASSERT_NE(0u, GetSystemDirectoryW(system, MAX_PATH));
    wchar_t classId[39];
    StringFromGUID2(CLSID_KXVDSource, classId, 39);
    const std::wstring serverKey = std::wstring(L"CLSID\\") + classId + L"\\InprocServer32";

    // Cyrillic, CJK, and a path longer than MAX_PATH.
    for (const std::wstring& name : {std::wstring(L"\u041f\u0440\u043e\u0438\u0437\u0432\u043e\u0434\u0438\u0442\u0435\u043b\u044c"),
                                     std::wstring(L"\u5236\u9020\u5546 \u30e1\u30fc\u30ab\u30fc"),
                                     L"Maker " + std::wstring(240, L'm')}) {
        const std::wstring folder = Temp.File(name);
        ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
        const std::wstring module = CopyModuleInto(folder);
        ASSERT_FALSE(module.empty());
        ASSERT_TRUE(CopyFileW((CWidePath::FolderOf(self) + L"VUVezaVID.dll").c_str(),
                              (folder + L"\\VUVezaVID.dll").c_str(), FALSE));

        DWORD code = 0;
        ASSERT_TRUE(RunChildProcess(std::wstring(system) + L"\\regsvr32.exe", L"/s \"" + module + L"\"", 60000, &code))
            << "regsvr32 did not finish within 60 s";
        ASSERT_EQ(0u, code) << "regsvr32 failed";
        wchar_t written[1024] = {};
        DWORD bytes = sizeof(written);
        ASSERT_EQ(ERROR_SUCCESS, RegGetValueW(HKEY_CLASSES_ROOT, serverKey.c_str(), nullptr, RRF_RT_REG_SZ, nullptr,
                                              written, &bytes));
        EXPECT_EQ(0, _wcsicmp(module.c_str(), written)) << "the class key names another file";

        // Past MAX_PATH the registration is whole, but the platform goes no
        // further (Wine 8, measured): CoCreateInstance answers
        // REGDB_E_CLASSNOTREG, and loaded by its path the 64-bit module's
        // Load fails with ERROR_MOD_NOT_FOUND: its helper does not start
        // from there.
        if (module.size() >= MAX_PATH) continue;
        ASSERT_TRUE(RunChildProcess(self, L"--registered-child \"" + recording + L"\"", 60000, &code))
            << "the child did not finish within 60 s";
        EXPECT_EQ(static_cast<DWORD>(S_OK), code) << "Load through COM from the registered copy";
    }
}
