// The source filter: loads one recording through its media file object and
// offers it on two output pins, " Video " (index 0, id "1") and " Audio "
// (index 1, id "2"). Seeking is offered by the pins; the filter coordinates
// the repositioning of its one file between them.
//
// Owns MediaFile, LoadedFileName and the two media types; the pins belong to
// the CSource base, which deletes them (Video and Audio are plain pointers
// into that list).
//
// Threads: the application's and graph's threads call the COM methods; the
// pins' worker threads read MediaFile, the cached file values and FileEpoch;
// the thread that seeks a pin calls ClaimSeek and RepositionFile.
//
// Load opens the recording and waits for its first picture and its file
// information without StateLock: every other caller of the filter needs that
// lock, and those waits take seconds. LoadInProgress keeps a second Load out
// meanwhile. A recording whose duration the library does not tell is refused
// with VFW_E_TIMEOUT: with a duration of 0 every seek would be dropped.
//
// Locks, in the order they may be taken:
//   StateLock (CSource: the filter's and pins' lock; guards the fields below
//     that Load writes, the types, the pin list and the cached values)
//   -> PositionLock (guards PendingStart, PendingPin; held briefly, never
//      while waiting)
//   -> RepositionLock (serialises repositionings of the file; held across the
//      file's reposition and the preroll wait)
//   -> each stream's StreamLock -> the media file's own locks.
// The pins' workers never take StateLock, PositionLock or RepositionLock.
// FileEpoch is atomic and read without a lock.
#pragma once

#include "picture/PictureGrid.h"
#include "framework/CritLock.h"
#include "framework/MediaFormat.h"
#include "framework/Source.h"
#include "reader/IMediaFile.h"

#include <atomic>
#include <cstdint>
#include <memory>

class CMediaStream;
class CVideoStream;
class CAudioStream;

// The module's creation function for the filter's class.
CUnknown* CreateSrcFilter(IUnknown* outer, HRESULT* result);

class CSrcFilter : public CSource, public IFileSourceFilter {
public:
    explicit CSrcFilter(IUnknown* outer);
    ~CSrcFilter() override;
    CSrcFilter(const CSrcFilter&) = delete;
    CSrcFilter& operator=(const CSrcFilter&) = delete;

    HRESULT STDMETHODCALLTYPE InnerQueryInterface(REFIID id, void** out) override;
    KX_FORWARD_UNKNOWN_TO_OUTER

    // IMediaFilter: the playback library is stopped before the pins are. A
    // Pause that fails for want of memory (a downstream allocator that cannot
    // commit, a worker that cannot start) also raises EC_ERRORABORT with
    // E_OUTOFMEMORY.
    HRESULT STDMETHODCALLTYPE Stop() override;
    HRESULT STDMETHODCALLTYPE Pause() override;
    HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME start) override;

    // IFileSourceFilter
    HRESULT STDMETHODCALLTYPE Load(LPCOLESTR path, const AM_MEDIA_TYPE* type) override;
    HRESULT STDMETHODCALLTYPE GetCurFile(LPOLESTR* path, AM_MEDIA_TYPE* type) override;

    // For the streams (their constructors run under StateLock inside Load;
    // afterwards these values only change under StateLock in Load).
    IMediaFile* File() const { return MediaFile.get(); }
    // The cached frame rate and duration, fetched from the file by the first
    // caller (StateLock held: the streams call them while Load builds them).
    int32_t FetchFrameRate();
    int32_t FetchDurationMs();
    // One picture's length in 100-ns units (see IMediaFile::GetPicturePeriod),
    // cached in the same way.
    double FetchFramePeriod();
    // Where the pictures lie and where the library is asked to start them;
    // fixed from Load on (built before the pins).
    const CPictureGrid& Pictures() const { return Grid; }
    // Whether the filter is stopped (StateLock taken here).
    bool IsStopped();
    const CMediaFormat& VideoMediaType() const { return VideoType; }
    const CMediaFormat& AudioMediaType() const { return AudioType; }
    CVideoStream* Video() const { return VideoPin; }

    // Seek coordination, on the thread that seeks a pin. ClaimSeek tells
    // whether the pin must reposition the file for its new start (true) or
    // only restart its worker, because the same seek already moved the file
    // for the other pin (false; *outcome is then that move's result).
    bool ClaimSeek(CMediaStream* pin, REFERENCE_TIME start, HRESULT* outcome);
    // Moves the file to the picture holding start (when inside the duration;
    // see CPictureGrid::LibraryMs) and waits for the new preroll, until
    // decoding is stopped (a Stop on another thread), or until the queued
    // pictures stop growing (decoding held back by the sound ring).
    // The other pin's worker stops taking data from the moment the epoch
    // changes until its own seek restarts it. HRESULT_FROM_WIN32(ERROR_SEEK)
    // when the file could not be moved there: the file has then ended.
    HRESULT RepositionFile(CMediaStream* pin, REFERENCE_TIME start);
    // Counts repositionings; a worker whose segment began at an older epoch
    // holds back.
    uint32_t CurrentFileEpoch() const { return FileEpoch.load(); }
    // How long after a repositioning the other pin's part of the same seek is
    // awaited; after that a pin's worker carries on without it.
    static constexpr DWORD OwnSeekLimitMs = 2000;
    // Whether a repositioning is under way, and the tick count when the last
    // one finished its preroll wait.
    bool RepositionInProgress() const { return FinishedEpoch.load() != FileEpoch.load(); }
    DWORD LastRepositionTick() const { return RepositionTick.load(); }

private:
    bool BuildVideoType(CMediaFormat* type);
    void ForgetPendingSeek();
    CMediaStream* OtherPin(CMediaStream* pin) const;

    int32_t CachedDurationMs = 0;
    int32_t CachedFrameRate = 0;
    double CachedFramePeriod = 0;
    CPictureGrid Grid;
    bool LoadInProgress = false;
    int32_t VideoWidth = 0;
    int32_t VideoHeight = 0;
    CMediaFormat VideoType;
    CMediaFormat AudioType;
    std::unique_ptr<IMediaFile> MediaFile;
    std::unique_ptr<wchar_t[]> LoadedFileName;

    CVideoStream* VideoPin = nullptr;  // in the pin list; guarded by StateLock
    CAudioStream* AudioPin = nullptr;

    CCritLock PositionLock;
    bool SeekPending = false;              // guarded by PositionLock
    REFERENCE_TIME PendingStart = 0;       // guarded by PositionLock
    CMediaStream* PendingPin = nullptr;    // guarded by PositionLock
    CCritLock RepositionLock;
    std::atomic<uint32_t> FileEpoch{0};
    std::atomic<uint32_t> FinishedEpoch{0};
    std::atomic<DWORD> RepositionTick{0};
    std::atomic<HRESULT> RepositionResult{S_OK};
};
