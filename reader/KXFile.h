// One recorded media file, read through the playback library: owns the
// library handle, the notice window (NoticeWindow.h), the decode callback,
// the picture pool and queue, the sound ring and the flow control between
// them. Decoding pauses when a store is full and resumes when a read has
// drained it (the depths are CPictureBudget's); a picture or sound piece a
// full store cannot take holds the decoding thread inside the callback until
// room comes, rather than being dropped.
//
// Threads:
//  - the filter's thread constructs, opens, stops, closes and destroys the
//    object, and calls the getters;
//  - the message thread (CNoticeWindow) handles the library's notices
//    (OnFileEnd, OnFileInfo);
//  - the library's decoding thread runs DecodeCallback (queuing, the first
//    picture, the back-pressure pause, holds);
//  - the video worker reads pictures and, before it waits on PictureEvent,
//    calls AwaitPictures; the audio worker reads sound and, before it waits
//    on SoundEvent, calls AwaitSound; anyone may take a State snapshot;
//  - the seeking thread calls SeekTo.
//
// Locks, in the order they may be taken: ControlLock, HandleLock, QueueLock,
// then the pool's PoolLock (or the ring's RingLock, never both). What each
// guards is listed with the fields below.
//
// Decisions, one function each:
//  - start: ResumeDecoding (open, a worker's start, a seek) clears Stopped;
//    the flow-control resume ResumeIfDrained never starts a stopped file;
//  - pause: a seek's PauseDecoding; the back-pressure pause is asked for in
//    one way, RequestPause (decoding thread, when PauseWhenFull or the pool
//    finds a store full), and made in one place, MakeWantedPause: at once
//    when ControlLock is free, else by its holder as it lets go
//    (ControlHold). Both make it through PauseLocked;
//  - segment: StartSegment (open, seek, a flush that dropped data) clears
//    the segment's flags; DropBuffered drops the buffered data;
//  - preroll: ReachPreroll (enough queued, pictures dropped unread, the end);
//  - a picture's size: ClassifyPicture (first, known, other, none);
//  - can more come: AwaitPictures and AwaitSound, which the workers call
//    before they wait; State only looks;
//  - end of file: MarkFileEnded (notice 1124, a picture of another size, a
//    refused seek); it also completes the preroll, since nothing more comes.
//
// Events, each auto reset with one waiter: PictureEvent (video worker) and
// SoundEvent (audio worker), woken when the file ends, the preroll is
// reached, data is lost, a segment starts, on a close and a stop, and for
// data only when their reader found none since the last signal (CWakeEvent:
// under Wine each signal is a wineserver round trip). PictureEvent is armed
// by AwaitPictures finding none queued, a ReadVideoFrame
// without a picture, and a segment's start; SoundEvent by a ReadAudio that
// finds too little and a segment's start, and is then set once the ring
// holds what that read wanted (SoundWanted), not for every piece: a read
// that found enough never waits. RoomSignal (decoding thread, armed while in
// a hold) when a store gains room, a wanted pause has been dealt with, and
// always when a sound reader leaves, decoding stops or a refusal begins;
// SizeKnownEvent (GetVideoSize) at the first picture. A waiter checks the
// state after every wake-up, so a signal between its check and its wait is
// kept by the event.
#pragma once

#include "framework/CritLock.h"
#include "framework/SyncEvent.h"
#include "reader/AudioBuffer.h"
#include "reader/FileInfo.h"
#include "reader/FramePool.h"
#include "reader/IMediaFile.h"
#include "reader/IPictureMemory.h"
#include "common/KXPlayApi.h"
#include "reader/NoticeWindow.h"
#include "reader/PictureBudget.h"
#include "reader/PictureQueue.h"
#include "reader/WakeEvent.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

class CKXFile : public IMediaFile, private CNoticeWindow::INotices {
public:
    // Upper bounds of the waits, in milliseconds. Tests shorten them.
    struct WaitLimits {
        DWORD SizeMs = 5000;     // GetVideoSize, for the first picture
        DWORD InfoMs = 10000;    // the file information (message 1178), once per open
        DWORD WindowMs = 5000;   // OpenFile, for the message thread's window
        // The decoding thread, for the holder of ControlLock to make a
        // back-pressure pause: longer than a descheduled holder is normally away.
        DWORD PauseHoldMs = 50;
    };

    // Uses the production library (CPlayLibrary::Shared()).
    CKXFile();
    // Uses the given table; null means the library is unavailable and every
    // open fails. The table must outlive the object.
    explicit CKXFile(const KXPlayApi* api);
    CKXFile(const KXPlayApi* api, const WaitLimits& waits);
    // The picture pools take their buffers from memory (see IPictureMemory.h).
    CKXFile(const KXPlayApi* api, const WaitLimits& waits, IPictureMemory* memory);
    ~CKXFile() override;
    CKXFile(const CKXFile&) = delete;
    CKXFile& operator=(const CKXFile&) = delete;

    // Filter's thread. A reopening closes the open file first.
    bool OpenFile(const wchar_t* path) override;
    void CloseFile() override;

    // Video worker. Copies the oldest picture into destination (rows of
    // DestinationStride pixels); false when none is queued (sets VideoDrained)
    // or it does not fit (kept queued).
    bool ReadVideoFrame(uint8_t* destination, int32_t capacity) override;
    // Audio worker. Copies exactly length bytes of sound, or nothing (false).
    bool ReadAudio(uint8_t* destination, uint32_t length) override;

    // Seeking thread, closing.
    void FlushBuffers();
    bool PauseDecoding();
    bool ResumeDecoding() override;
    void StopDecoding() override;
    // False when the position cannot be reached (nothing open, no duration,
    // past the end, or refused by the library). A refusal leaves the file
    // ended, since the old position's data has been flushed: the streams end
    // instead of waiting for data that cannot come.
    bool SeekTo(uint32_t ms) override;

    // Filter's thread; may wait (see WaitLimits and FileInfo.h).
    bool GetVideoSize(int32_t* width, int32_t* height) override;
    // 0 while the library does not tell it.
    uint32_t GetDurationMs() override;
    // Whole pictures a second, 1 to 30 (25 where the information gives none
    // or less than one).
    int32_t GetFrameRate() override;
    // The duration over the frame total, exact, so pictures of 12.5 or 7.5 a
    // second and time-lapse recordings keep their places; the whole frame
    // rate stands in where either is unknown (or gives over 1000 a second).
    // 100-ns units; 0 with no file open.
    double GetPicturePeriod() override;

    HANDLE PictureEvent() const override { return PictureSignal.Handle(); }
    HANDLE SoundEvent() const override { return SoundSignal.Handle(); }
    // Pictures queued; only looks.
    int32_t QueuedPictureCount();
    MediaFileState State() override;
    // Video worker: whether more pictures can come, after lifting a pause
    // that no read would lift; arms PictureEvent when none is queued.
    bool AwaitPictures(MediaFileState* state) override;
    // Audio worker: whether more sound can come, after lifting a pause that
    // only unread pictures made.
    bool AwaitSound(MediaFileState* state) override;

    void MarkVideoDrained() override { VideoDrained = 1; }
    void SetDestinationStride(int32_t pixels) override { DestinationStride = pixels; }
    // Audio worker and the filter's thread; see SoundConsumer below.
    void SetSoundConsumer(bool reading) override;
    // Filter's thread and the video worker; see PictureReader below.
    void SetPictureReader(bool reading) override;

    // The decode callback registered with the library; context is the CKXFile.
    static void KX_PLAY_CALL DecodeCallback(long first, char* data, long length, FrameInfo* info,
                                            void* context, long last);

protected:
    // Video worker, no lock held: copies a picture taken out of the queue
    // (length bytes, rows of width pixels) into the destination handed to
    // ReadVideoFrame, rows stride pixels apart (see PictureCopy.h); remaining
    // pictures are queued behind it. False puts the picture back. The 64-bit
    // module's helper has the module copy it out of the shared pool.
    virtual bool CopyOut(uint8_t* destination, int32_t capacity, const uint8_t* picture, int32_t length,
                         int32_t width, int32_t height, int32_t stride, int32_t remaining);

private:
    // While one lasts, no hold is kept or begun (see HoldsRefused).
    class HoldRefusal {
    public:
        explicit HoldRefusal(CKXFile* file);
        ~HoldRefusal();
        HoldRefusal(const HoldRefusal&) = delete;
        HoldRefusal& operator=(const HoldRefusal&) = delete;

    private:
        CKXFile* const File;
    };

    // Holds ControlLock for one start, pause or stop. A back-pressure pause
    // wanted meanwhile is made before it lets go, and after, for one wanted
    // as it let go; then a decoding thread held for it goes on.
    class ControlHold {
    public:
        explicit ControlHold(CKXFile* file);
        ~ControlHold();
        ControlHold(const ControlHold&) = delete;
        ControlHold& operator=(const ControlHold&) = delete;

    private:
        CKXFile* const File;
    };

    // What a picture's size means for the stream.
    enum class PictureSize {
        First,  // none known yet, and this one is usable: it fixes the size
        Known,  // the known size in at least one dimension: queued
        Other,  // another size in both dimensions (a first picture out of range
                // included): the picture stream ends
        None,   // none known yet, and this one has a dimension of 0: dropped
    };

    // Message thread.
    void OnFileEnd() override { MarkFileEnded(); }
    void OnFileInfo() override;

    void MarkFileEnded();
    // Sets PrerollReached and wakes the waiters; false when it was set.
    bool ReachPreroll();
    void StartSegment();
    // Drops the buffered pictures and sound; false when nothing came since
    // the last drop (or no file is open), and nothing changed.
    bool DropBuffered();
    void SignalWaiters();
    // Frees every queued picture's buffer (QueueLock taken here).
    void DropQueuedPictures();
    void MarkOutOfMemory();
    // Decoding thread.
    PictureSize ClassifyPicture(int32_t width, int32_t height) const;
    void OnFirstPicture(int32_t width, int32_t height);
    void QueuePicture(const char* data, long length);
    // A buffer when the pool can give none now: holds decoding until a read
    // gives one back. Null when none can come back (memory is exhausted) or
    // the hold was refused.
    uint8_t* AwaitPoolBuffer(CFramePool* pool);
    void QueueSound(const char* data, long length);
    // Waits until hasRoom() holds; false when refused, stopped, closed or
    // past limitMs: the data is then of no use.
    template <typename Room> bool HoldDecoding(Room hasRoom, DWORD limitMs = INFINITE);
    // Asks for the back-pressure pause when a store is at its high water.
    void PauseWhenFull();
    // The one way to ask for a back-pressure pause: made at once when
    // ControlLock is free, else by its holder; the decoding thread is held
    // until then (at most PauseHoldMs).
    void RequestPause();
    // ControlLock held: makes a wanted pause, unless decoding is paused or
    // stopped meanwhile.
    void MakeWantedPause();
    // ControlLock held: the library call and the flags of a pause.
    bool PauseLocked(KXPLAYHANDLE handle);
    bool StoresFull();
    // Workers: resumes when paused and queued pictures (those left) are below
    // the low water, the sound ring too; never after the end or a stop.
    void ResumeIfDrained(int32_t queued);
    // ControlLock held: the library calls and the flags of a start.
    bool PlayLocked();
    bool SoundHasRoom() const;
    bool PicturesUnread() const { return PictureReader.load() == 0 && SoundConsumer.load() != 0; }
    bool PicturesCanCome();
    bool SoundCanCome();
    // Queued or being copied out, QueueLock held.
    int32_t PicturesHeldLocked() const { return PictureQueue.Count() + PicturesInRead; }
    int32_t PicturesHeld();
    // Pictures queued; arms PictureEvent when there are none (the video
    // worker is about to wait for one).
    int32_t CountOrArmPictures();
    // A sound reader found fewer than wanted bytes: the sound that makes them
    // up sets SoundEvent.
    void ArmSound(uint32_t wanted);
    // Filter's thread: the information, waited for once per open.
    void AwaitFileInfo();

    // Fixed at construction.
    const KXPlayApi* Api;
    const WaitLimits Waits;
    IPictureMemory* const PictureMemory;

    // Filter's thread only.
    std::wstring FilePath;

    // ControlLock: each start, pause or stop of decoding is one step with
    // its library call and the flags it implies; held across the call. The
    // decoding thread never blocks on it: it tries it (RequestPause).
    CCritLock ControlLock;
    // The decoding state, exactly one of running (Playing), paused (Paused)
    // or never started / stopped (Stopped). Written only under ControlLock
    // with the library call: PlayLocked runs, PauseLocked pauses,
    // StopDecoding stops, OpenFile sets stopped with the new handle. Read
    // anywhere.
    std::atomic<uint8_t> Paused{0};
    std::atomic<uint8_t> Playing{0};
    std::atomic<uint8_t> Stopped{1};
    // A back-pressure pause is wanted: set by RequestPause, taken (cleared)
    // under ControlLock by MakeWantedPause, PauseDecoding and OpenFile.
    std::atomic<uint8_t> PauseWanted{0};

    // HandleLock: PlayHandle changes and the file information's values
    // against the message thread, which never asks the library about a
    // handle being closed nor writes values of a closed file. PlayHandle is
    // read anywhere without it.
    CCritLock HandleLock;
    std::atomic<KXPLAYHANDLE> PlayHandle{nullptr};
    CFileInfo Info;

    // QueueLock: PictureQueue, PicturesInRead and QueueDrops. The library is
    // never called with it held, nor is a picture copied: a read takes the
    // picture out, copies it and gives the buffer back.
    CCritLock QueueLock;
    CPictureQueue PictureQueue;
    // Pictures taken out of the queue by a read that copies them.
    int32_t PicturesInRead = 0;
    // Raised whenever the queue is dropped; a read that copied without
    // success puts its picture back only when no drop came meanwhile.
    uint32_t QueueDrops = 0;

    // Own locks (RingLock, the pool's PoolLock).
    CAudioBuffer AudioBuffer;
    // Replaced only on the decoding thread while the size is unknown (no
    // picture queued or being read: a close comes after the workers have
    // stopped), and on destruction.
    std::unique_ptr<CFramePool> FramePool;

    // No lock: atomic, each written where its decision lives.
    // The size: written by OnFirstPicture (decoding thread), cleared by
    // CloseFile; PictureBytes is width x height x 2.
    std::atomic<int32_t> PictureWidth{0};
    std::atomic<int32_t> PictureHeight{0};
    std::atomic<int32_t> PictureBytes{0};
    // Row length, in pixels, of the buffers ReadVideoFrame fills: the first
    // picture's width until the video stream stores its downstream one
    // (SetDestinationStride).
    std::atomic<int32_t> DestinationStride{0};
    // The segment's flags, all cleared by StartSegment:
    //  - FileEnded: nothing more is decoded for this segment. MarkFileEnded.
    //  - PrerollReached: a seek's preroll is queued (or the file ended, or
    //    pictures are dropped unread). ReachPreroll.
    //  - VideoDrained: a read found no picture. ReadVideoFrame, MarkVideoDrained.
    //  - AudioFinished: the sound has ended. ReadAudio.
    //  - OutOfMemory: a picture was lost for want of memory; the video stream
    //    fails once the queue is out. MarkOutOfMemory.
    //  - SoundOutOfMemory: the ring got no storage, sound was lost; the sound
    //    stream fails. QueueSound.
    std::atomic<uint8_t> FileEnded{0};
    std::atomic<uint8_t> PrerollReached{0};
    std::atomic<uint8_t> VideoDrained{0};
    std::atomic<uint8_t> AudioFinished{0};
    std::atomic<uint8_t> OutOfMemory{0};
    std::atomic<uint8_t> SoundOutOfMemory{0};
    // The data's flags:
    //  - DataSinceFlush: a picture or sound (or a loss) since the last drop,
    //    which otherwise changes nothing. Queuing, MarkOutOfMemory; cleared
    //    by DropBuffered.
    //  - AudioStarted: the first sound arrived (the ring has been tried).
    //    QueueSound; never cleared.
    //  - AwaitingPicture: sound is dropped until a picture comes. Set by
    //    DropBuffered (and at construction), cleared by picture queuing.
    std::atomic<uint8_t> DataSinceFlush{0};
    std::atomic<uint8_t> AudioStarted{0};
    std::atomic<uint8_t> AwaitingPicture{1};
    // The readers, told by the streams: PictureReader, a video stream takes
    // the pictures (SetPictureReader; set at each open); SoundConsumer, a
    // sound stream reads the ring (SetSoundConsumer). Pictures read by
    // nobody while the sound is read are dropped on arrival: unread pictures
    // must never hold the sound back.
    std::atomic<uint8_t> PictureReader{1};
    std::atomic<uint8_t> SoundConsumer{0};
    // What the sound reader last wanted when it found too little (ArmSound;
    // a sample's worth at a segment's start).
    std::atomic<uint32_t> SoundWanted{SoundSampleBytes};
    // Operations in progress during which nothing is held (HoldRefusal: a
    // close, a seek's removal of the callback, a drop).
    std::atomic<uint32_t> HoldsRefused{0};
    CPictureBudget Budget;

    // Events (see above).
    CSyncEvent SizeKnownEvent{false};
    // Armed from the start: a reader of a new object awaits the first data.
    CWakeEvent PictureSignal{true};
    CWakeEvent SoundSignal{true};
    CWakeEvent RoomSignal{false};

    // Last: its thread calls the notices until it has ended.
    CNoticeWindow Notices;
};
