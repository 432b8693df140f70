// One recorded media file, read through the playback library: owns the
// library handle, a message thread with a hidden window for the library's
// notices (1124 end of file, 1178 file information), the decode callback, the
// picture pool and queue, and the sound ring, with flow control that pauses
// decoding at 50 queued pictures and resumes it when a read leaves fewer
// than 35; for pictures too large for the per-file memory budget those
// counts scale down together (see BufferDepth). A picture or sound piece a
// full store cannot take holds the decoding thread inside the callback
// until room comes, rather than being dropped.
//
// Threads:
//  - the filter's thread constructs, opens, stops, closes and destroys the
//    object, and calls the getters;
//  - MessageThread (from the first OpenFile to destruction) handles the
//    library's posted messages;
//  - the library's decoding thread runs DecodeCallback (picture and sound
//    queuing, OnFirstPicture, the back-pressure PauseDecoding);
//  - the video worker calls ReadVideoFrame / ResumeDecoding and waits on
//    PictureEvent; the audio worker calls ReadAudio and waits on SoundEvent;
//  - the seeking thread calls SeekTo.
//
// Locks, in the order they may be taken: HandleLock, then QueueLock, then the
// pool's PoolLock (and the ring's RingLock, never together with the pool's).
//  - HandleLock guards changes of PlayHandle together with TotalFrames and
//    DurationMs against the message thread: CloseFile holds it across
//    KX_PLAY_CloseFile and the reset, MessageThread holds it while it asks
//    the library for the file information, so it never calls the library with
//    a handle that is being closed and never writes values of a closed file.
//  - QueueLock guards PictureQueue only. The library is never called with
//    QueueLock held.
//  - ControlLock comes before QueueLock (ApplyWantedPause counts the queue).
//    It makes each decision to pause, resume or stop decoding one
//    step with the library call and the Playing / Paused / Stopped flags it
//    implies. Without it two resumers (video and audio workers) and the
//    back-pressure pause raced: a resumer whose Play went in before the pause
//    wrote "playing" after it, and decoding stayed paused with an empty queue
//    for good. It is taken with no other lock of this object held and is held
//    across the library call. The decoding thread only tries it (see
//    BackPressurePause): it must never wait for a thread that may be inside
//    the library. The flags are written before the library call, so a pause
//    the library makes the callback run into inside Play is not undone.
//  - The other flags are atomic bytes written without a lock.
//
// Decisions where the behaviour was left open:
//  - Window readiness: MessageThread forces its message queue (PeekMessage),
//    registers the class and creates the window, then sets ThreadReadyEvent
//    (manual reset) whether or not that succeeded. OpenFile waits for that
//    event (at most WaitLimits::WindowMs) before it checks MessageWindow.
//  - Destruction: it waits for ThreadReadyEvent or the thread's end before it
//    posts the quit message, so the message can never be lost because the
//    thread had no queue yet; the thread's queue exists before the event is set.
//  - The window class "KXMSGCLASS" is shared per process: registered by the
//    first thread that needs it and unregistered by the last one that ends
//    (a reference count under a process-wide lock). A class already registered
//    by someone else is used and left registered. Any number of objects work
//    at once, and one object's end does not break the others.
//  - Message 1178 is answered only while a file is open; with the file closed
//    (or being closed, see HandleLock) it is ignored.
//  - Reopening: a successful OpenFile resets the decoding state to stopped
//    before it starts the new file, so decoding always starts even when the
//    object was playing the previous file.
//  - File information: awaited once per open, for at most WaitLimits::InfoMs,
//    by the first getter that needs it. When message 1178 has not come by
//    then, the library is asked directly, once; its answers (-1 and 0 where it
//    does not know) stand until a later notice replaces them. One bound for
//    all the getters: a wait in each of them added up to 40 s in the
//    filter's Load.
//  - The picture period is the duration over the frame total, exact (not a
//    whole number of pictures a second, nor of milliseconds), so pictures of
//    12.5, 7.5 or 30 a second and time-lapse recordings keep their places.
//    Only where either is unknown (or gives over 1000 pictures a second) the
//    whole frame rate stands in for it.
//
// Safety beyond the plain data path:
//  - Message 1124 also marks the preroll complete: nothing more comes, so a
//    seek that waits for the preroll near the end need not wait it out.
//  - An end notice posted before a seek or a reopening belongs to the old
//    position or file. Each starts a new notice segment (NoticeSegment) and
//    posts a marker for it to the message thread behind whatever the library
//    had posted; the thread honours 1124 only once it has reached the newest
//    marker (HandledSegment). Without it an end notice handled just after a
//    seek ended the new segment at once and its pictures were never sent.
//  - ReadVideoFrame refuses (keeping the picture) destination rows narrower
//    than the picture, which would overlap, and in the row-by-row copy copies
//    only the rows a shorter picture holds, never stale bytes of an older one.
//
// Additions for the output streams, so they can wait instead of spinning:
//  - PictureEvent (auto reset, one waiter: the video worker) is signalled
//    whenever a picture is queued, FileEnded is set, the buffers are flushed,
//    the file is closed or decoding is stopped.
//  - SoundEvent (auto reset, one waiter: the audio worker) is signalled on the
//    same occasions and whenever sound is written into the ring.
//  - QueuedPictureCount(), IsPlaying(), HasFileEnded(), HasAudioStarted() and
//    AudioBytesAvailable() answer "can more still come?" without consuming or
//    setting VideoDrained / AudioFinished. A waiter checks them after every
//    wake-up; a signal between its check and its wait is kept by the event.
//  - PictureCanStillCome() is the video worker's test before it waits: false
//    once the file has ended (or decoding is stopped) and the queue is empty.
//    When the queue is empty while decoding is paused it resumes decoding:
//    the back-pressure pause (decoding thread) and the low-water resume
//    (video worker) race, and a pause that lands after the reads that should
//    have resumed it would otherwise leave an empty queue paused for good.
#pragma once

#include "reader/AudioBuffer.h"
#include "reader/CriticalSection.h"
#include "reader/FramePool.h"
#include "reader/IMediaFile.h"
#include "reader/IPictureMemory.h"
#include "reader/KXPlayApi.h"
#include "reader/PictureQueue.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

class CKXFile : public IMediaFile {
public:
    // How many pictures a file buffers: the pool keeps Kept buffers, decoding
    // pauses at High queued pictures and resumes below Low, and a seek's
    // preroll is complete at Preroll. Preroll < High always.
    struct BufferDepth {
        int32_t Kept = 53;
        int32_t High = 50;
        int32_t Low = 35;
        int32_t Preroll = 40;
    };
    // The depth for pictures of pictureBytes within budgetBytes: today's
    // counts where they fit, scaled down together where not, never below
    // four pictures.
    static BufferDepth DepthFor(int64_t pictureBytes, int64_t budgetBytes);

    // Upper bounds of the waits, in milliseconds. Tests shorten them.
    struct WaitLimits {
        DWORD SizeMs = 5000;     // GetVideoSize, for the first picture
        DWORD InfoMs = 10000;    // the file information (message 1178), once per open
        DWORD WindowMs = 5000;   // OpenFile, for the message thread's window
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

    // Filter's thread.
    bool OpenFile(const wchar_t* path) override;
    void CloseFile() override;

    // Video worker. Copies the oldest picture into destination (rows of
    // DestinationStride pixels); false when none is queued (sets VideoDrained)
    // or it does not fit (kept queued).
    bool ReadVideoFrame(uint8_t* destination, int32_t capacity) override;
    // Audio worker. Copies exactly length bytes of sound, or nothing (false).
    bool ReadAudio(uint8_t* destination, uint32_t length) override;

    // Seeking thread / flushing.
    void FlushBuffers();
    bool PauseDecoding();
    bool ResumeDecoding() override;
    void StopDecoding() override;
    // False when the position cannot be reached (nothing open, no duration,
    // past the end, or refused by the library). A refusal leaves the file
    // ended, since the old position's data has been flushed: the streams end
    // instead of waiting for data that cannot come.
    bool SeekTo(uint32_t ms) override;

    // Filter's thread; may wait (see WaitLimits).
    bool GetVideoSize(int32_t* width, int32_t* height) override;
    // 0 while the library does not tell it.
    uint32_t GetDurationMs() override;
    // Whole pictures a second, 1 to 30 (25 where the information gives none
    // or less than one).
    int32_t GetFrameRate() override;
    // One picture's length in 100-ns units; 0 with no file open.
    double GetPicturePeriod() override;

    // Waitable signals for the streams (see above). Owned by the object.
    HANDLE PictureEvent() const override { return PictureSignal.get(); }
    HANDLE SoundEvent() const override { return SoundSignal.get(); }
    // Non-consuming state queries, any thread.
    int32_t QueuedPictureCount() override;
    bool PictureCanStillCome() override;
    // True unless a sound consumer has fallen behind: the sound ring then
    // holds decoding back even when few pictures are queued.
    bool SoundHasRoom() const;
    bool IsPlaying() const { return Playing.load() != 0; }
    bool IsPaused() const { return Paused.load() != 0; }
    bool IsStopped() const override { return Stopped.load() != 0; }
    bool HasFileEnded() const { return FileEnded.load() != 0; }
    bool HasAudioStarted() const { return AudioStarted.load() != 0; }
    uint32_t AudioBytesAvailable() const { return AudioBuffer.Available(); }
    bool IsOpen() const override { return PlayHandle.load() != nullptr; }
    bool IsInfoReady() const { return InfoReady.load() != 0; }
    int32_t TotalFrameCount() const { return TotalFrames.load(); }
    uint32_t KnownDurationMs() const { return DurationMs.load(); }
    int32_t PictureSize() const { return PictureBytes.load(); }
    // The thresholds in force for the current pictures (any thread).
    BufferDepth Depth() const {
        return BufferDepth{KeptDepth.load(), HighDepth.load(), LowDepth.load(), PrerollAt.load()};
    }
    // Set when a picture could not be buffered and none was queued to come
    // back, when the pool could not be made or the queue could not grow
    // (memory exhausted): the video stream fails with E_OUTOFMEMORY once the
    // queued pictures are out. Cleared by a flush.
    bool IsOutOfMemory() const override { return OutOfMemory.load() != 0; }
    // Set when the sound ring could not be given its storage, so decoded
    // sound was lost: the sound stream fails with E_OUTOFMEMORY. Cleared by
    // a flush (the ring is tried again with the next sound).
    bool IsSoundOutOfMemory() const override { return SoundOutOfMemory.load() != 0; }
    // The current pool (null before the first valid picture); for inspection only.
    CFramePool* Pool() const { return FramePool.get(); }

    // The decode callback registered with the library; context is the CKXFile.
    static void KX_PLAY_CALL DecodeCallback(long first, char* data, long length, FrameInfo* info,
                                            void* context, long last);

    // Read and written by the output streams without a lock.
    std::atomic<uint8_t> VideoDrained{0};
    std::atomic<uint8_t> AudioFinished{0};
    std::atomic<uint8_t> PrerollReached{0};
    // Row length, in pixels, of the buffers ReadVideoFrame fills; the video
    // stream stores the downstream row length here.
    std::atomic<int32_t> DestinationStride{0};
    // Set by the sound stream while it reads the sound: only then does a full
    // sound ring hold decoding back (nobody would drain it otherwise).
    std::atomic<uint8_t> SoundConsumer{0};

    // Whether anyone takes the pictures (true from each open on). While the
    // sound is read and the pictures are not (the video pin unconnected, or
    // its stream ended or refused by downstream), pictures are dropped on
    // arrival and the queued ones freed: unread pictures must never hold the
    // sound back. With no reader at all, the picture queue holds decoding
    // back as usual, so nothing is decoded for nobody. Filter's thread and
    // the video worker.
    void SetPictureReader(bool reading) override;
    // The audio worker's test before it waits for sound: false once decoding
    // is stopped or the file closed. A pause that only unread pictures made
    // is lifted here, since no picture read would lift it.
    bool SoundCanStillCome() override;

    // The fields above, as the filter reaches them through IMediaFile.
    bool IsAudioFinished() const override { return AudioFinished.load() != 0; }
    bool IsPrerollReached() const override { return PrerollReached.load() != 0; }
    void MarkVideoDrained() override { VideoDrained = 1; }
    void SetDestinationStride(int32_t pixels) override { DestinationStride = pixels; }
    void SetSoundConsumer(bool reading) override;

protected:
    // Video worker, QueueLock held: copies the oldest picture (length bytes,
    // rows of width pixels) into the destination handed to ReadVideoFrame,
    // rows stride pixels apart (see PictureCopy.h); false keeps the picture
    // queued. The 64-bit module's helper replaces it with a copy that the
    // module makes out of the shared pool.
    virtual bool CopyOut(uint8_t* destination, int32_t capacity, const uint8_t* picture, int32_t length,
                         int32_t width, int32_t height, int32_t stride);

private:
    struct HandleCloser {
        void operator()(HANDLE h) const {
            if (h) CloseHandle(h);
        }
    };
    using UniqueHandle = std::unique_ptr<void, HandleCloser>;

    static DWORD WINAPI MessageThread(void* file);
    void RunMessageLoop();
    void OnFileInfo();
    void MarkFileEnded();
    // Seeking thread or the filter's thread: see NoticeSegment.
    void BeginNoticeSegment();
    // Message thread: the marker of a segment has been reached.
    void ReachSegment(uint32_t segment);
    void SignalWaiters();
    // Frees every queued picture's buffer (QueueLock taken here).
    void DropQueuedPictures();
    // A picture could not be buffered: the video stream fails once the queued
    // ones are out (cleared by a flush).
    void MarkOutOfMemory();
    void OnFirstPicture(int32_t width, int32_t height);
    void QueuePicture(const char* data, long length);
    // Decoding thread: a buffer for a picture when the pool can give none
    // now: holds decoding until a queued picture is read and its buffer comes
    // back. Null when none is queued (memory is exhausted) or the hold was
    // released.
    uint8_t* AwaitPoolBuffer(CFramePool* pool);
    void QueueSound(const char* data, long length);
    // Decoding thread: pauses, or, when a pause, resume or stop is in
    // progress on another thread, leaves the pause to that thread (see
    // PauseWanted).
    void BackPressurePause();
    // ControlLock held, after the library call: applies a back-pressure pause
    // that could not take the lock while the call was made, if a store is
    // still full.
    void ApplyWantedPause(KXPLAYHANDLE handle);
    // Decoding thread, inside the callback: waits until hasRoom() holds, so
    // that decoded data a full store cannot take is held back instead of
    // dropped. False when the wait was released (a flush, seek, stop or
    // close) or the file closed: the data is then of no use.
    template <typename Room> bool HoldDecoding(Room hasRoom);
    // Any thread but the decoding thread: while a refusal lasts no hold is
    // kept or begun; taken around every library call that may wait for the
    // callback to return (close, removal of the callback) and the flush.
    void RefuseHolds();
    void AllowHolds();
    struct HoldRefusal {
        explicit HoldRefusal(CKXFile* file) : File(file) { File->RefuseHolds(); }
        ~HoldRefusal() { File->AllowHolds(); }
        HoldRefusal(const HoldRefusal&) = delete;
        HoldRefusal& operator=(const HoldRefusal&) = delete;
        CKXFile* const File;
    };
    // Workers: the low-water resume after a read (queued: the pictures left)
    // or a wait; never after a stop (only a worker's start or a seek resumes
    // a stopped file).
    void ResumeIfDrained(int32_t queued);
    // ControlLock held: the library call and the flags of a resume.
    bool PlayLocked();
    bool StoresFull();
    bool PicturesUnread() const { return PictureReader.load() == 0 && SoundConsumer.load() != 0; }
    void CloseHandleLocked();
    // Filter's thread: see "File information" above.
    void AwaitFileInfo();

    const KXPlayApi* Api;
    const WaitLimits Waits;
    IPictureMemory* const PictureMemory;

    std::wstring FilePath;
    std::atomic<KXPLAYHANDLE> PlayHandle{nullptr};
    std::atomic<uint8_t> InfoReady{0};
    std::atomic<uint8_t> InfoAwaited{0};
    std::atomic<uint8_t> FileEnded{0};
    std::atomic<int32_t> TotalFrames{-1};
    std::atomic<uint32_t> DurationMs{0};
    CCriticalSection HandleLock;
    CCriticalSection QueueLock;
    CCriticalSection ControlLock;
    CPictureQueue PictureQueue;  // guarded by QueueLock
    std::atomic<int32_t> PictureBytes{0};
    CAudioBuffer AudioBuffer;
    UniqueHandle SizeKnownEvent;
    UniqueHandle InfoReadyEvent;
    UniqueHandle PictureSignal;
    UniqueHandle SoundSignal;
    UniqueHandle ThreadReadyEvent;
    std::atomic<int32_t> PictureWidth{0};
    std::atomic<int32_t> PictureHeight{0};
    std::atomic<uint8_t> Paused{0};
    std::atomic<uint8_t> Playing{0};
    std::atomic<uint8_t> Stopped{1};
    std::atomic<uint8_t> DataSinceFlush{0};
    std::atomic<uint8_t> AudioStarted{0};
    std::atomic<uint8_t> AwaitingPicture{1};
    std::atomic<uint8_t> PictureReader{1};
    // Set by the decoding thread when its back-pressure pause found
    // ControlLock taken; the holder applies it before letting go. Without it
    // a resume in flight swallowed the pause, and a fast library overran the
    // sound ring while the next tries also met the lock.
    std::atomic<uint8_t> PauseWanted{0};
    std::atomic<uint8_t> OutOfMemory{0};
    std::atomic<uint8_t> SoundOutOfMemory{0};
    // Read from the registry at each open; the depth follows it at the
    // first picture (decoding thread) and is read by every thread.
    std::atomic<int64_t> BudgetBytes{0};
    std::atomic<int32_t> KeptDepth{53};
    std::atomic<int32_t> HighDepth{50};
    std::atomic<int32_t> LowDepth{35};
    std::atomic<int32_t> PrerollAt{40};
    // Refusals in force (see RefuseHolds); RoomSignal (auto reset, one
    // waiter: the decoding thread) is set whenever a store gains room, a
    // sound reader leaves, decoding stops or a refusal begins.
    std::atomic<uint32_t> HoldsRefused{0};
    UniqueHandle RoomSignal;
    UniqueHandle MessageThreadHandle;
    DWORD MessageThreadId = 0;
    // Raised by BeginNoticeSegment; HandledSegment follows it on the message
    // thread (or at once when the marker cannot be posted).
    std::atomic<uint32_t> NoticeSegment{0};
    std::atomic<uint32_t> HandledSegment{0};
    // Replaced only on the decoding thread while the size is unknown (no
    // picture queued or being read), and on destruction.
    std::unique_ptr<CFramePool> FramePool;
    std::atomic<HWND> MessageWindow{nullptr};
};
