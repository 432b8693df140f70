#include "reader/KXFile.h"

#include "framework/ScopedLock.h"
#include "framework/ScopedTryLock.h"
#include "picture/PictureGrid.h"
#include "reader/PictureCopy.h"
#include "reader/PlayLibrary.h"

#include <cstring>
#include <new>

namespace {

// Sound flow control while a consumer reads the sound: the ring holds 4 s, so
// decoding pauses once 3 s are buffered and goes on below 2 s; without it a
// sound reader that falls more than 4 s behind the pictures loses sound.
constexpr uint32_t SoundHighWater = 48000;
constexpr uint32_t SoundLowWater = 32000;
constexpr int32_t MaxFrameRate = 30;
constexpr int32_t MaxWidth = 4096;
constexpr int32_t MaxHeight = 2160;

bool IsSet(const std::atomic<uint8_t>& flag) { return flag.load() != 0; }

}  // namespace

CKXFile::HoldRefusal::HoldRefusal(CKXFile* file) : File(file) {
    ++File->HoldsRefused;
    File->RoomSignal.Wake();
}

CKXFile::HoldRefusal::~HoldRefusal() { --File->HoldsRefused; }

CKXFile::ControlHold::ControlHold(CKXFile* file) : File(file) { File->ControlLock.Lock(); }

CKXFile::ControlHold::~ControlHold() {
    File->MakeWantedPause();
    File->ControlLock.Unlock();
    // Wanted after the look above while the lock was still held: the
    // decoding thread could not take it, so the pause is made here.
    while (IsSet(File->PauseWanted)) {
        CScopedLock again(&File->ControlLock);
        File->MakeWantedPause();
    }
    // A decoding thread held for the pause goes on.
    File->RoomSignal.Notify();
}

CKXFile::CKXFile() : CKXFile(CPlayLibrary::Shared().Api()) {}

CKXFile::CKXFile(const KXPlayApi* api) : CKXFile(api, WaitLimits()) {}

CKXFile::CKXFile(const KXPlayApi* api, const WaitLimits& waits) : CKXFile(api, waits, nullptr) {}

CKXFile::CKXFile(const KXPlayApi* api, const WaitLimits& waits, IPictureMemory* memory)
    : Api(api),
      Waits(waits),
      PictureMemory(memory),
      Info(waits.InfoMs),
      Notices(this) {}

CKXFile::~CKXFile() {
    if (PlayHandle.load()) CloseFile();
    if (FramePool) {
        FramePool->FreeAll();
        FramePool.reset();
    }
    Notices.End();
}

bool CKXFile::OpenFile(const wchar_t* path) {
    if (!path) return false;
    if (PlayHandle.load()) CloseFile();
    try {
        FilePath.assign(path);
    } catch (const std::bad_alloc&) {
        return false;
    }
    Notices.Start();
    if (!Api) return false;
    {
        // The new file has not been started, whatever the previous one did.
        const ControlHold control(this);
        CScopedLock hold(&HandleLock);
        PlayHandle = Api->OpenFileExW(FilePath.c_str());
        Playing = 0;
        Paused = 0;
        Stopped = 1;
        PauseWanted = 0;
    }
    const KXPLAYHANDLE handle = PlayHandle.load();
    if (!handle) return false;
    StartSegment();
    Info.Reset();
    SizeKnownEvent.Reset();
    PictureReader = 1;
    Budget.ReadBudget();
    const HWND window = Notices.Window(Waits.WindowMs);
    if (!window) {
        CloseFile();
        return false;
    }
    Api->SetMsgWnd(handle, window);
    Api->SetFileEndMsg(handle, window, KX_MSG_FILE_END);
    Api->SetDecCallBackEx(handle, &CKXFile::DecodeCallback, this, 0, KX_DECODE_YUY2);
    Api->SetDecodeMode(handle, 1);
    if (!ResumeDecoding()) {
        CloseFile();
        return false;
    }
    return true;
}

void CKXFile::CloseFile() {
    if (!PlayHandle.load()) return;
    // The library's close waits for a callback in progress.
    const HoldRefusal refusal(this);
    {
        CScopedLock hold(&HandleLock);
        Api->CloseFile(PlayHandle.load());
        FlushBuffers();
        PlayHandle = nullptr;
        Info.Forget();
        PictureWidth = 0;
        PictureHeight = 0;
    }
    SignalWaiters();
}

void CKXFile::OnFileInfo() {
    // Answered only while a file is open; HandleLock keeps a close out.
    CScopedLock hold(&HandleLock);
    const KXPLAYHANDLE handle = PlayHandle.load();
    if (!handle) return;
    const int32_t frames = Api->GetFileTotalFrames(handle);
    Info.Publish(frames, Api->GetFileTimeMilliSec(handle));
}

void CKXFile::MarkFileEnded() {
    FileEnded = 1;
    // Nothing more comes, so the preroll is complete too.
    if (!ReachPreroll()) SignalWaiters();
}

bool CKXFile::ReachPreroll() {
    if (IsSet(PrerollReached) || PrerollReached.exchange(1)) return false;
    // A seek waits for it, and the sound reader of a file without sound ends on it.
    SignalWaiters();
    return true;
}

void CKXFile::StartSegment() {
    // End notices of the old position are ignored from here on.
    Notices.BeginSegment();
    FileEnded = 0;
    PrerollReached = 0;
    VideoDrained = 0;
    AudioFinished = 0;
    OutOfMemory = 0;
    SoundOutOfMemory = 0;
    // Nothing of the segment has been read: its first data is awaited.
    PictureSignal.Arm();
    ArmSound(SoundSampleBytes);
    SignalWaiters();
}

void CKXFile::SignalWaiters() {
    PictureSignal.Wake();
    SoundSignal.Wake();
}

void KX_PLAY_CALL CKXFile::DecodeCallback(long, char* data, long length, FrameInfo* info,
                                          void* context, long) {
    if (!info || !context) return;
    CKXFile* self = static_cast<CKXFile*>(context);
    if (info->type == KX_FRAME_YUY2) {
        switch (self->ClassifyPicture(info->width, info->height)) {
        case PictureSize::First:
            self->OnFirstPicture(info->width, info->height);
            self->QueuePicture(data, length);
            break;
        case PictureSize::Known:
            self->QueuePicture(data, length);
            break;
        case PictureSize::Other:
            self->MarkFileEnded();
            break;
        case PictureSize::None:
            // The pool may be a previous file's, and a buffer queued from it
            // would later be handed back to a pool of another size and
            // overrun there.
            break;
        }
    } else if (info->type == KX_FRAME_PCM) {
        self->QueueSound(data, length);
    }
}

CKXFile::PictureSize CKXFile::ClassifyPicture(int32_t width, int32_t height) const {
    const int32_t knownWidth = PictureWidth.load();
    const int32_t knownHeight = PictureHeight.load();
    if (knownWidth != 0 && knownHeight != 0) {
        return width != knownWidth && height != knownHeight ? PictureSize::Other : PictureSize::Known;
    }
    if (width >= 1 && width <= MaxWidth && height >= 1 && height <= MaxHeight) return PictureSize::First;
    // A dimension of 0 matches the unknown size in that dimension.
    return width != 0 && height != 0 ? PictureSize::Other : PictureSize::None;
}

void CKXFile::OnFirstPicture(int32_t width, int32_t height) {
    PictureWidth = width;
    DestinationStride = width;
    PictureBytes = width * height * 2;
    PictureHeight = height;
    if (FramePool) {
        FramePool->FreeAll();
        FramePool.reset();
    }
    const CPictureBudget::Depth depth = Budget.Follow(PictureBytes.load());
    FramePool.reset(new (std::nothrow) CFramePool(PictureBytes.load(), depth.Kept, PictureMemory));
    if (FramePool && FramePool->KeptLimit() > 0) {
        SizeKnownEvent.Set();
    } else {
        // No picture can be buffered: the stream fails rather than waits.
        FramePool.reset();
        MarkOutOfMemory();
    }
}

void CKXFile::QueuePicture(const char* data, long length) {
    CFramePool* pool = FramePool.get();
    const int32_t bytes = PictureBytes.load();
    if (!pool || bytes == 0 || !data || length < 1 || length > bytes) return;
    if (PicturesUnread()) {
        // Nobody takes it: the position has moved on all the same, so the
        // sound that follows counts and a seek's preroll is complete.
        DataSinceFlush = 1;
        AwaitingPicture = 0;
        ReachPreroll();
        return;
    }
    uint8_t* buffer = pool->AcquireBuffer();
    if (!buffer) buffer = AwaitPoolBuffer(pool);
    if (!buffer) return;
    std::memcpy(buffer, data, static_cast<size_t>(length));
    int32_t queued = 0;
    {
        CScopedLock hold(&QueueLock);
        if (!PictureQueue.Append(QueuedPicture{static_cast<int32_t>(length), buffer})) {
            pool->ReleaseBuffer(buffer);
            MarkOutOfMemory();
            return;
        }
        queued = PictureQueue.Count();
    }
    DataSinceFlush = 1;
    AwaitingPicture = 0;
    if (queued >= Budget.Preroll() || IsSet(FileEnded)) ReachPreroll();
    PictureSignal.Notify();
    PauseWhenFull();
}

uint8_t* CKXFile::AwaitPoolBuffer(CFramePool* pool) {
    if (PicturesHeld() > 0) {
        // The pool is the store that is full.
        if (!IsSet(Paused)) RequestPause();
        SignalWaiters();
        // A read gives its buffer back to the pool, which keeps it.
        if (!HoldDecoding([this, pool] { return pool->KeptCount() > 0 || PicturesHeld() == 0; })) return nullptr;
        if (uint8_t* buffer = pool->AcquireBuffer()) return buffer;
    }
    // Nothing queued, so nothing comes back: the stream cannot go on (a
    // flush, after a seek, lets it try again).
    MarkOutOfMemory();
    return nullptr;
}

void CKXFile::QueueSound(const char* data, long length) {
    if (!FramePool || !data || length <= 0 || IsSet(AwaitingPicture)) return;
    if (!IsSet(AudioStarted)) {
        if (!AudioBuffer.Allocate()) {
            // The piece is lost, and so is the sound's continuity: the sound
            // stream fails instead of playing on with a gap.
            SoundOutOfMemory = 1;
            DataSinceFlush = 1;
            SoundSignal.Wake();
            return;
        }
        AudioStarted = 1;
    }
    const uint32_t bytes = static_cast<uint32_t>(length);
    // The ring's high water pauses decoding long before it is full; a
    // reader that lags further holds decoding here.
    const uint32_t capacity = static_cast<uint32_t>(AudioBuffer.CapacityBytes());
    if (AudioBuffer.Write(data, bytes) == 0 && IsSet(SoundConsumer) && bytes < capacity &&
        HoldDecoding([this, bytes, capacity] {
            return !IsSet(SoundConsumer) || AudioBuffer.Available() + bytes < capacity;
        })) {
        AudioBuffer.Write(data, bytes);
    }
    // The sound reader is woken once there is a read's worth, not for every piece.
    if (SoundSignal.IsArmed() && AudioBuffer.Available() >= SoundWanted.load()) SoundSignal.Notify();
    DataSinceFlush = 1;
    PauseWhenFull();
}

void CKXFile::SetSoundConsumer(bool reading) {
    SoundConsumer = reading ? 1 : 0;
    // A hold for the ring ends with its reader.
    if (!reading) RoomSignal.Wake();
}

void CKXFile::SetPictureReader(bool reading) {
    PictureReader = reading ? 1 : 0;
    if (!PicturesUnread()) return;
    DropQueuedPictures();
    // A back-pressure pause made for the pictures now holds nothing back.
    ResumeIfDrained(0);
    SignalWaiters();
}

void CKXFile::DropQueuedPictures() {
    {
        CScopedLock hold(&QueueLock);
        while (PictureQueue.Count() > 0) {
            FramePool->ReleaseBuffer(PictureQueue.Front().Data);
            PictureQueue.RemoveFront();
        }
        ++QueueDrops;
    }
    RoomSignal.Notify();
}

void CKXFile::MarkOutOfMemory() {
    OutOfMemory = 1;
    DataSinceFlush = 1;
    SignalWaiters();
}

bool CKXFile::SoundHasRoom() const {
    return !IsSet(SoundConsumer) || !IsSet(AudioStarted) || AudioBuffer.Available() < SoundLowWater;
}

bool CKXFile::ReadVideoFrame(uint8_t* destination, int32_t capacity) {
    QueuedPicture picture{};
    int32_t remaining = 0;
    uint32_t drops = 0;
    {
        CScopedLock hold(&QueueLock);
        if (PictureQueue.Count() == 0) {
            VideoDrained = 1;
            PictureSignal.Arm();
            return false;
        }
        picture = PictureQueue.Front();
        if (!destination || capacity < picture.Length) return false;
        // Out of the queue while it is copied: a flush meanwhile leaves it to
        // this read, and the decoding thread queues on.
        PictureQueue.RemoveFront();
        ++PicturesInRead;
        remaining = PictureQueue.Count();
        drops = QueueDrops;
    }
    const bool copied = CopyOut(destination, capacity, picture.Data, picture.Length, PictureWidth.load(),
                                PictureHeight.load(), DestinationStride.load(), remaining);
    bool lost = false;
    {
        CScopedLock hold(&QueueLock);
        --PicturesInRead;
        // Kept queued when it did not fit, unless the queue has been dropped
        // since (it holds the new position's pictures, or none), or there is
        // no memory to put it back.
        const bool flushed = QueueDrops != drops;
        if (copied || flushed || !PictureQueue.PutBack(picture)) {
            lost = !copied && !flushed;
            FramePool->ReleaseBuffer(picture.Data);
        }
        remaining = PictureQueue.Count();
    }
    RoomSignal.Notify();
    if (lost) MarkOutOfMemory();
    if (!copied) return false;
    ResumeIfDrained(remaining);
    return true;
}

bool CKXFile::CopyOut(uint8_t* destination, int32_t capacity, const uint8_t* picture, int32_t length,
                      int32_t width, int32_t height, int32_t stride, int32_t) {
    return CopyPicture(destination, capacity, picture, length, width, height, stride);
}

bool CKXFile::ReadAudio(uint8_t* destination, uint32_t length) {
    if (!IsSet(AudioStarted)) {
        if (IsSet(PrerollReached)) AudioFinished = 1;
        ArmSound(length);
        return false;
    }
    if (IsSet(FileEnded) && (!AudioBuffer.HasStorage() || AudioBuffer.Available() < SoundSampleBytes)) {
        AudioFinished = 1;
        return false;
    }
    // The ring answers a null destination with the count it holds and true;
    // passed on, that would report sound delivered that was never copied.
    if (!destination) return false;
    uint32_t copied = length;
    if (!AudioBuffer.Read(destination, &copied)) {
        ArmSound(length);
        return false;
    }
    RoomSignal.Notify();
    ResumeIfDrained(QueuedPictureCount());
    return true;
}

void CKXFile::FlushBuffers() {
    if (DropBuffered()) StartSegment();
}

bool CKXFile::DropBuffered() {
    if (!PlayHandle.load() || !IsSet(DataSinceFlush)) return false;
    const HoldRefusal refusal(this);
    if (IsSet(AudioStarted)) AudioBuffer.Clear();
    DropQueuedPictures();
    DataSinceFlush = 0;
    AwaitingPicture = 1;
    return true;
}

bool CKXFile::PauseDecoding() {
    const ControlHold hold(this);
    const KXPLAYHANDLE handle = PlayHandle.load();
    if (!handle) return false;
    // A back-pressure pause wanted meanwhile is this one.
    PauseWanted = 0;
    if (IsSet(Paused)) return true;
    return PauseLocked(handle);
}

bool CKXFile::PauseLocked(KXPLAYHANDLE handle) {
    Paused = 1;
    Playing = 0;
    return Api->Pause(handle) != 0;
}

void CKXFile::PauseWhenFull() {
    if (!IsSet(Paused) && StoresFull()) RequestPause();
}

void CKXFile::RequestPause() {
    PauseWanted = 1;
    {
        CScopedTryLock hold(&ControlLock);
        if (hold.Holds()) {
            MakeWantedPause();
            return;
        }
    }
    // The holder makes the pause as it lets go. Until then nothing more is
    // queued: a fast library would otherwise run on past the high water, and
    // sound past the ring, for as long as the holder is descheduled. The hold
    // is bounded, so a library call that would wait for this callback is not
    // blocked.
    HoldDecoding([this] { return !IsSet(PauseWanted); }, Waits.PauseHoldMs);
}

void CKXFile::MakeWantedPause() {
    if (!PauseWanted.exchange(0) || IsSet(Paused) || IsSet(Stopped)) return;
    if (const KXPLAYHANDLE handle = PlayHandle.load()) PauseLocked(handle);
}

template <typename Room>
bool CKXFile::HoldDecoding(Room hasRoom, DWORD limitMs) {
    bool room = false;
    const DWORD start = GetTickCount();
    for (;;) {
        // Armed before the look: a store that gains room after it signals.
        RoomSignal.Arm();
        room = hasRoom();
        if (room || HoldsRefused.load() != 0 || IsSet(Stopped) || !PlayHandle.load()) break;
        DWORD wait = INFINITE;
        if (limitMs != INFINITE) {
            const DWORD spent = GetTickCount() - start;
            if (spent >= limitMs) break;
            wait = limitMs - spent;
        }
        WaitForSingleObject(RoomSignal.Handle(), wait);
    }
    RoomSignal.Disarm();
    return room;
}

bool CKXFile::StoresFull() {
    if (IsSet(SoundConsumer) && AudioBuffer.Available() >= SoundHighWater) return true;
    return !PicturesUnread() && QueuedPictureCount() >= Budget.High();
}

bool CKXFile::ResumeDecoding() {
    const ControlHold hold(this);
    return PlayLocked();
}

void CKXFile::ResumeIfDrained(int32_t queued) {
    if (IsSet(FileEnded) || IsSet(Stopped) || !IsSet(Paused) || !SoundHasRoom()) return;
    if (!PicturesUnread() && queued >= Budget.Low()) return;
    const ControlHold hold(this);
    // Again under the lock: a stop that came after the test above stays.
    if (!IsSet(Stopped)) PlayLocked();
}

bool CKXFile::PlayLocked() {
    const KXPLAYHANDLE handle = PlayHandle.load();
    if (!handle) return false;
    if (IsSet(Playing)) return true;
    // Written before the call, so a pause the library makes the callback
    // run into inside Play is not undone.
    Playing = 1;
    Stopped = 0;
    Paused = 0;
    Api->SetPlayOption(handle, 0, 1);
    Api->SetDecodeMode(handle, 1);
    return Api->Play(handle, nullptr) != 0;
}

void CKXFile::StopDecoding() {
    {
        const ControlHold hold(this);
        const KXPLAYHANDLE handle = PlayHandle.load();
        if (!handle || IsSet(Stopped)) return;
        Playing = 0;
        Stopped = 1;
        // A held decoding thread sees Stopped and leaves the callback, which
        // the library's Stop may wait for.
        RoomSignal.Wake();
        Api->Stop(handle);
    }
    SignalWaiters();
}

bool CKXFile::SeekTo(uint32_t ms) {
    const KXPLAYHANDLE handle = PlayHandle.load();
    const uint32_t duration = Info.DurationMs();
    if (!handle || duration == 0 || ms >= duration) return false;
    {
        // The removal of the callback may wait for one in progress.
        const HoldRefusal refusal(this);
        Api->SetDecCallBackEx(handle, nullptr, nullptr, 0, 0);
        if (IsSet(Stopped)) ResumeDecoding();
        PauseDecoding();
        DropBuffered();
        StartSegment();
    }
    Api->SetDecCallBackEx(handle, &CKXFile::DecodeCallback, this, 0, KX_DECODE_YUY2);
    if (!Api->SetPlayedTimeEx(handle, ms)) {
        MarkFileEnded();
        return false;
    }
    ResumeDecoding();
    return true;
}

bool CKXFile::GetVideoSize(int32_t* width, int32_t* height) {
    if (!width || !height) return false;
    if ((PictureWidth.load() != 0 && PictureHeight.load() != 0) || SizeKnownEvent.Wait(Waits.SizeMs)) {
        *width = PictureWidth.load();
        *height = PictureHeight.load();
        return true;
    }
    *width = 0;
    *height = 0;
    return false;
}

void CKXFile::AwaitFileInfo() {
    if (!Info.AwaitOnce()) return;
    CScopedLock hold(&HandleLock);
    const KXPLAYHANDLE handle = PlayHandle.load();
    if (!handle) return;
    const int32_t frames = Api->GetFileTotalFrames(handle);
    Info.SetAsked(frames, Api->GetFileTimeMilliSec(handle));
}

uint32_t CKXFile::GetDurationMs() {
    if (!PlayHandle.load()) return 0;
    AwaitFileInfo();
    return Info.DurationMs();
}

int32_t CKXFile::GetFrameRate() {
    if (!PlayHandle.load()) return 0;
    AwaitFileInfo();
    const int64_t frames = Info.TotalFrames();
    const int64_t ms = Info.DurationMs();
    if (frames <= 0 || ms == 0) return CPictureGrid::DefaultRate;
    const int64_t rate = frames * 1000 / ms;
    if (rate < 1) return CPictureGrid::DefaultRate;
    return static_cast<int32_t>(rate > MaxFrameRate ? MaxFrameRate : rate);
}

double CKXFile::GetPicturePeriod() {
    const int32_t rate = GetFrameRate();
    if (rate == 0) return 0;
    const int64_t frames = Info.TotalFrames();
    const int64_t ms = Info.DurationMs();
    if (frames > 0 && ms >= frames) return static_cast<double>(ms) * 10000.0 / static_cast<double>(frames);
    return 10000000.0 / rate;
}

int32_t CKXFile::QueuedPictureCount() {
    CScopedLock hold(&QueueLock);
    return PictureQueue.Count();
}

int32_t CKXFile::CountOrArmPictures() {
    CScopedLock hold(&QueueLock);
    const int32_t count = PictureQueue.Count();
    if (count == 0) PictureSignal.Arm();
    return count;
}

void CKXFile::ArmSound(uint32_t wanted) {
    SoundWanted = wanted;
    SoundSignal.Arm();
    // Written since the reader looked: its wait must not miss it.
    if (AudioBuffer.Available() >= wanted) SoundSignal.Notify();
}

int32_t CKXFile::PicturesHeld() {
    CScopedLock hold(&QueueLock);
    return PicturesHeldLocked();
}

bool CKXFile::AwaitPictures(MediaFileState* state) {
    const bool more = PicturesCanCome();
    if (state) *state = State();
    return more;
}

bool CKXFile::AwaitSound(MediaFileState* state) {
    const bool more = SoundCanCome();
    if (state) *state = State();
    return more;
}

bool CKXFile::PicturesCanCome() {
    if (CountOrArmPictures() > 0) return true;
    if (!PlayHandle.load() || IsSet(FileEnded)) return false;
    // Held for the sound reader to catch up: pictures come once it has.
    if (IsSet(Paused) && !SoundHasRoom()) return true;
    // The back-pressure pause (decoding thread) and the low-water resume
    // (video worker) race; a pause that lands after the reads that should
    // have lifted it is lifted here.
    ResumeIfDrained(0);
    return IsSet(Playing);
}

bool CKXFile::SoundCanCome() {
    if (!PlayHandle.load() || IsSet(Stopped)) return false;
    // A pause that only unread pictures made: no picture read would lift it.
    ResumeIfDrained(QueuedPictureCount());
    return true;
}

MediaFileState CKXFile::State() {
    MediaFileState state;
    state.QueuedPictures = QueuedPictureCount();
    state.PictureBytes = PictureBytes.load();
    state.DestinationStride = DestinationStride.load();
    state.SoundBytes = AudioBuffer.Available();
    state.Open = PlayHandle.load() ? 1 : 0;
    state.Playing = Playing.load();
    state.Paused = Paused.load();
    state.Stopped = Stopped.load();
    state.FileEnded = FileEnded.load();
    state.AudioStarted = AudioStarted.load();
    state.PrerollReached = PrerollReached.load();
    state.VideoDrained = VideoDrained.load();
    state.AudioFinished = AudioFinished.load();
    state.OutOfMemory = OutOfMemory.load();
    state.SoundOutOfMemory = SoundOutOfMemory.load();
    return state;
}
