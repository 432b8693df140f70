#include "filter/SrcFilter.h"

#include "filter/AudioStream.h"
#include "filter/VideoStream.h"
#include "framework/ScopedLock.h"
#include "reader/MediaFileOpen.h"
#include "common/KXVDSrcClsid.h"

#include <amvideo.h>
#include <evcode.h>
#include <mmreg.h>
#include <uuids.h>
#include <vfwmsgs.h>

#include <cmath>
#include <cstring>
#include <cwchar>
#include <new>
#include <utility>

namespace {

// The preroll wait after a repositioning: polls of PrerollPollMs, at most
// PrerollPolls of them (about 15 s).
constexpr DWORD PrerollPollMs = 15;
constexpr int PrerollPolls = 1001;
// Polls with pictures queued and none added that end the wait early.
constexpr int PrerollStallPolls = 10;

}  // namespace

CUnknown* CreateSrcFilter(IUnknown* outer, HRESULT* result) {
    CSrcFilter* filter = new (std::nothrow) CSrcFilter(outer);
    if (!filter) *result = E_OUTOFMEMORY;
    return filter;
}

CSrcFilter::CSrcFilter(IUnknown* outer) : CSource(nullptr, outer, CLSID_KXVDSource) {
    // Until a load the types are all zero, as GetCurFile reports them; they
    // own nothing yet, so plain stores do.
    CScopedLock hold(&StateLock);
    static_cast<AM_MEDIA_TYPE&>(VideoType) = AM_MEDIA_TYPE{};
    static_cast<AM_MEDIA_TYPE&>(AudioType) = AM_MEDIA_TYPE{};
}

CSrcFilter::~CSrcFilter() {
    // A graph released without being stopped: the workers must be gone
    // before the file they read from.
    if (CurrentState() != State_Stopped) Stop();
    if (MediaFile) MediaFile->CloseFile();
    MediaFile.reset();
    LoadedFileName.reset();
}

HRESULT STDMETHODCALLTYPE CSrcFilter::InnerQueryInterface(REFIID id, void** out) {
    if (!out) return E_POINTER;
    if (IsEqualIID(id, IID_IFileSourceFilter)) return HandOutInterface(static_cast<IFileSourceFilter*>(this), out);
    return CSource::InnerQueryInterface(id, out);
}

HRESULT STDMETHODCALLTYPE CSrcFilter::Stop() {
    if (MediaFile) MediaFile->StopDecoding();
    ForgetPendingSeek();
    return CSource::Stop();
}

HRESULT STDMETHODCALLTYPE CSrcFilter::Pause() {
    ForgetPendingSeek();
    {
        // Only a store that a connected pin reads may hold decoding back:
        // pictures nobody takes must not stall the sound, and sound decoded
        // for a reader that has not started yet must not overflow its ring.
        CScopedLock hold(&StateLock);
        if (MediaFile && CurrentState() == State_Stopped) {
            MediaFile->SetSoundConsumer(AudioPin && AudioPin->IsConnected());
            MediaFile->SetPictureReader(VideoPin && VideoPin->IsConnected());
        }
    }
    const HRESULT paused = CSource::Pause();
    // Wine's graph manager does not fail IMediaControl::Run when a filter's
    // Pause fails: without an event the application would wait for an end
    // that never comes.
    if (paused == E_OUTOFMEMORY) RaiseGraphEvent(EC_ERRORABORT, E_OUTOFMEMORY, 0);
    return paused;
}

HRESULT STDMETHODCALLTYPE CSrcFilter::Run(REFERENCE_TIME start) {
    ForgetPendingSeek();
    return CSource::Run(start);
}

int32_t CSrcFilter::FetchFrameRate() {
    if (CachedFrameRate == 0 && MediaFile) CachedFrameRate = MediaFile->GetFrameRate();
    return CachedFrameRate;
}

int32_t CSrcFilter::FetchDurationMs() {
    if (CachedDurationMs <= 0) CachedDurationMs = MediaFile ? static_cast<int32_t>(MediaFile->GetDurationMs()) : 0;
    return CachedDurationMs;
}

double CSrcFilter::FetchFramePeriod() {
    if (CachedFramePeriod <= 0 && MediaFile) CachedFramePeriod = MediaFile->GetPicturePeriod();
    return CachedFramePeriod > 0 ? CachedFramePeriod : CPictureGrid::DefaultPeriod;
}

bool CSrcFilter::IsStopped() {
    CScopedLock hold(&StateLock);
    return CurrentState() == State_Stopped;
}

HRESULT STDMETHODCALLTYPE CSrcFilter::Load(LPCOLESTR path, const AM_MEDIA_TYPE* type) {
    if (!path) return E_POINTER;
    {
        CScopedLock hold(&StateLock);
        // One file per filter: a second file would need a second pair of pins.
        if (CountPins() > 0 || LoadInProgress) return E_UNEXPECTED;
        LoadInProgress = true;
        const size_t length = std::wcslen(path) + 1;
        LoadedFileName.reset(new (std::nothrow) wchar_t[length]);
        if (LoadedFileName) std::memcpy(LoadedFileName.get(), path, length * sizeof(wchar_t));
    }
    // Declared before the lock, so a refused file closes after it is released.
    std::unique_ptr<IMediaFile> file = CreateMediaFile();
    const HRESULT opened = OpenMediaFile(file.get(), LoadedFileName.get());
    CScopedLock hold(&StateLock);
    LoadInProgress = false;
    if (FAILED(opened)) return opened;
    MediaFile = std::move(file);
    CachedDurationMs = 0;
    CachedFrameRate = 0;
    CachedFramePeriod = 0;

    CMediaFormat local;
    if (type) {
        local.AssignFrom(*type);
    } else {
        local.PutMajorType(MEDIATYPE_Video);
        local.PutSubtype(MEDIASUBTYPE_YUY2);
    }
    if (!BuildVideoType(&local)) {
        MediaFile->CloseFile();
        return E_OUTOFMEMORY;
    }
    Grid = CPictureGrid(FetchFramePeriod(), static_cast<uint32_t>(FetchDurationMs()));

    HRESULT ignored = S_OK;
    VideoPin = new (std::nothrow) CVideoStream(&ignored, this);
    AudioPin = VideoPin ? new (std::nothrow) CAudioStream(&ignored, this) : nullptr;
    if (!VideoPin || !AudioPin) {
        delete VideoPin;
        VideoPin = nullptr;
        MediaFile->CloseFile();
        return E_OUTOFMEMORY;
    }

    VideoType.AssignFrom(local);

    WAVEFORMATEX wave = {};
    wave.wFormatTag = WAVE_FORMAT_PCM;
    wave.nChannels = 1;
    wave.nSamplesPerSec = KX_PCM_RATE;
    wave.nAvgBytesPerSec = IMediaFile::SoundBytesPerSecond;
    wave.nBlockAlign = 2;
    wave.wBitsPerSample = 16;
    wave.cbSize = 0;
    AudioType.PutSampleSize(IMediaFile::SoundSampleBytes);
    AudioType.PutMajorType(MEDIATYPE_Audio);
    AudioType.PutSubtype(MEDIASUBTYPE_PCM);
    AudioType.PutFormatType(FORMAT_WaveFormatEx);
    AudioType.PutFormatBlock(reinterpret_cast<const BYTE*>(&wave), sizeof(wave));
    AudioType.MarkVariableSize();
    return S_OK;
}

bool CSrcFilter::BuildVideoType(CMediaFormat* type) {
    BYTE* block = type->EnsureFormatBlock(sizeof(VIDEOINFOHEADER));
    if (!block) return false;
    std::memset(block, 0, sizeof(VIDEOINFOHEADER));
    int32_t width = 0, height = 0;
    if (!MediaFile->GetVideoSize(&width, &height) || width == 0 || height == 0) return false;
    VideoWidth = width;
    VideoHeight = height;

    int32_t rate = FetchFrameRate();
    if (rate <= 0) rate = CPictureGrid::DefaultRate;
    VIDEOINFOHEADER info = {};
    info.rcSource = {0, 0, VideoWidth, VideoHeight};
    info.rcTarget = info.rcSource;
    info.dwBitRate = static_cast<DWORD>(rate);
    info.dwBitErrorRate = 0;
    info.AvgTimePerFrame = std::llround(FetchFramePeriod());
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = VideoWidth;
    info.bmiHeader.biHeight = VideoHeight;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 16;
    info.bmiHeader.biCompression = MAKEFOURCC('Y', 'U', 'Y', '2');
    const DWORD rowBytes = ((static_cast<DWORD>(VideoWidth) * 16 + 31) & ~31u) / 8;
    const DWORD rows = static_cast<DWORD>(VideoHeight < 0 ? -VideoHeight : VideoHeight);
    info.bmiHeader.biSizeImage = rowBytes * rows;

    type->PutMajorType(MEDIATYPE_Video);
    type->PutFormatType(FORMAT_VideoInfo);
    type->PutFormatBlock(reinterpret_cast<const BYTE*>(&info), sizeof(info));
    type->PutSubtype(MEDIASUBTYPE_YUY2);
    type->PutSampleSize(info.bmiHeader.biSizeImage);
    return true;
}

HRESULT STDMETHODCALLTYPE CSrcFilter::GetCurFile(LPOLESTR* path, AM_MEDIA_TYPE* type) {
    if (!path) return E_POINTER;
    *path = nullptr;
    if (LoadedFileName) {
        const size_t length = std::wcslen(LoadedFileName.get()) + 1;
        wchar_t* copy = static_cast<wchar_t*>(CoTaskMemAlloc(length * sizeof(wchar_t)));
        if (copy) {
            std::memcpy(copy, LoadedFileName.get(), length * sizeof(wchar_t));
            *path = copy;
        }
    }
    if (type) CopyMediaTypeDeep(type, &VideoType);
    return S_OK;
}

CMediaStream* CSrcFilter::OtherPin(CMediaStream* pin) const {
    if (pin == VideoPin) return AudioPin;
    if (pin == AudioPin) return VideoPin;
    return nullptr;
}

void CSrcFilter::ForgetPendingSeek() {
    CScopedLock hold(&PositionLock);
    SeekPending = false;
    PendingPin = nullptr;
}

bool CSrcFilter::ClaimSeek(CMediaStream* pin, REFERENCE_TIME start, HRESULT* outcome) {
    CScopedLock hold(&PositionLock);
    const bool expired = !RepositionInProgress() && GetTickCount() - RepositionTick.load() >= OwnSeekLimitMs;
    if (SeekPending && PendingPin == pin && PendingStart == start && !expired) {
        SeekPending = false;
        PendingPin = nullptr;
        *outcome = RepositionResult.load();
        return false;
    }
    *outcome = S_OK;
    CMediaStream* other = OtherPin(pin);
    SeekPending = other && other->IsConnected();
    PendingPin = SeekPending ? other : nullptr;
    PendingStart = start;
    return true;
}

HRESULT CSrcFilter::RepositionFile(CMediaStream* pin, REFERENCE_TIME start) {
    CScopedLock hold(&RepositionLock);
    IMediaFile* file = MediaFile.get();
    if (!file) return E_UNEXPECTED;
    const uint32_t epoch = FileEpoch.load() + 1;
    FileEpoch = epoch;
    // From here on the other worker takes no data until its own seek
    // restarts it; wait for a fill it may have started before.
    if (CMediaStream* other = OtherPin(pin)) other->PassBarrier();
    // The time's own millisecond, cut to whole ones, may lie in the picture
    // before the one asked for (picture 1 of 30 a second starts at 33.3 ms).
    const bool moved = file->SeekTo(Grid.LibraryMs(start));
    if (moved) {
        // A Stop on another thread may stop decoding right after the seek
        // resumed it: no picture can come then, and waiting out the whole
        // bound would hold RepositionLock, and with it every other seek, for
        // about 15 s each time. The next Pause resumes decoding from the new
        // position. Nor can the preroll come while the sound ring holds
        // decoding back with fewer pictures queued (a paused graph whose
        // audio renderer takes no more, at 12.5 pictures a second and fewer):
        // once pictures are queued and no more come, the wait is over.
        int32_t queued = 0;
        int stalled = 0;
        for (int polls = 0; polls < PrerollPolls && stalled < PrerollStallPolls && SUCCEEDED(file->FaultCode()); ++polls) {
            const MediaFileState state = file->State();
            if (state.PrerollReached || state.Stopped) break;
            stalled = state.QueuedPictures > 0 && state.QueuedPictures == queued ? stalled + 1 : 0;
            queued = state.QueuedPictures;
            Sleep(PrerollPollMs);
        }
    }
    // A refused move has ended the file (the streams end rather than wait);
    // the caller hears of it, and so does the other pin's part of the seek.
    const HRESULT result = moved ? S_OK : HRESULT_FROM_WIN32(ERROR_SEEK);
    RepositionResult = result;
    RepositionTick = GetTickCount();
    FinishedEpoch = epoch;
    return result;
}
