#include "reader/KXFile.h"

#include "reader/PictureCopy.h"
#include "reader/PlayLibrary.h"

#include <cstring>
#include <new>
#include <mutex>

namespace {

constexpr UINT QuitMessage = WM_USER + 101;  // 1125, posted by destruction
constexpr UINT SegmentMessage = WM_USER + 102;  // 1126, posted by seeks and reopenings
// Picture-count thresholds for pictures small enough that the budget holds
// them all; larger pictures scale them down together (see DepthFor).
constexpr int32_t PrerollDepth = 40;
constexpr int32_t HighWaterMark = 50;
constexpr int32_t LowWaterMark = 35;
// Below this many pictures playback stutters, whatever the budget says.
constexpr int32_t MinimumDepth = 4;
constexpr uint32_t DefaultBudgetMB = 64;
constexpr uint32_t MaxBudgetMB = 65536;
const wchar_t BudgetKey[] = L"Software\\KXVD\\KXVDSrc";
const wchar_t BudgetValue[] = L"PictureBudgetMB";
constexpr uint32_t SoundTailBytes = 800;
// The message thread only waits for and reads posted messages; a small
// reservation keeps many open files from taking address space for stacks.
constexpr SIZE_T MessageThreadStack = 64 * 1024;
// Sound flow control while a consumer reads the sound: the ring holds 4 s, so
// decoding pauses once 3 s are buffered and goes on below 2 s; without it a
// sound reader that falls more than 4 s behind the pictures loses sound.
constexpr uint32_t SoundHighWater = 48000;
constexpr uint32_t SoundLowWater = 32000;
constexpr int32_t DefaultFrameRate = 25;
constexpr int32_t MaxFrameRate = 30;
constexpr int32_t MaxWidth = 4096;
constexpr int32_t MaxHeight = 2160;
const char WindowClassName[] = "KXMSGCLASS";

// The hidden windows of every CKXFile share one class. It is registered by
// the first message thread that needs it and unregistered by the last one to
// end; a class registered by someone else is used and left alone.
std::mutex WindowClassLock;
int WindowClassUsers = 0;     // guarded by WindowClassLock
bool WindowClassOwned = false;  // guarded by WindowClassLock

bool AcquireWindowClass() {
    std::lock_guard<std::mutex> hold(WindowClassLock);
    if (WindowClassUsers == 0) {
        WNDCLASSA cls{};
        cls.lpfnWndProc = DefWindowProcA;
        cls.lpszClassName = WindowClassName;
        if (RegisterClassA(&cls)) {
            WindowClassOwned = true;
        } else if (GetLastError() == ERROR_CLASS_ALREADY_EXISTS) {
            WindowClassOwned = false;
        } else {
            return false;
        }
    }
    ++WindowClassUsers;
    return true;
}

void ReleaseWindowClass() {
    std::lock_guard<std::mutex> hold(WindowClassLock);
    if (--WindowClassUsers == 0 && WindowClassOwned) {
        UnregisterClassA(WindowClassName, nullptr);
        WindowClassOwned = false;
    }
}

HANDLE NewEvent(bool manualReset) { return CreateEventW(nullptr, manualReset, FALSE, nullptr); }

// The per-file budget for picture buffers, in bytes: the user's registry
// value when it is a DWORD from 1 to MaxBudgetMB, otherwise the default.
int64_t PictureBudgetBytes() {
    DWORD megabytes = 0;
    DWORD size = sizeof(megabytes);
    DWORD type = 0;
    HKEY key = nullptr;
    int64_t budget = static_cast<int64_t>(DefaultBudgetMB) << 20;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, BudgetKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return budget;
    if (RegQueryValueExW(key, BudgetValue, nullptr, &type, reinterpret_cast<BYTE*>(&megabytes), &size) ==
            ERROR_SUCCESS &&
        type == REG_DWORD && size == sizeof(megabytes) && megabytes >= 1 && megabytes <= MaxBudgetMB) {
        budget = static_cast<int64_t>(megabytes) << 20;
    }
    RegCloseKey(key);
    return budget;
}

bool Set(const std::atomic<uint8_t>& flag) { return flag.load() != 0; }

}  // namespace

CKXFile::BufferDepth CKXFile::DepthFor(int64_t pictureBytes, int64_t budgetBytes) {
    BufferDepth depth;
    const int64_t fits = pictureBytes > 0 ? budgetBytes / pictureBytes : CFramePool::MaxKept;
    if (fits >= CFramePool::MaxKept) return depth;
    // The pool keeps the whole depth; the queue pauses decoding a little below
    // it (a picture or two still arrive after the pause), and the preroll and
    // the resume come proportionally lower, so a seek's preroll is always
    // reached before decoding pauses.
    depth.Kept = static_cast<int32_t>(fits < MinimumDepth ? MinimumDepth : fits);
    depth.High = depth.Kept * HighWaterMark / CFramePool::MaxKept;
    if (depth.High < 2) depth.High = 2;
    depth.Low = depth.High * LowWaterMark / HighWaterMark;
    if (depth.Low < 1) depth.Low = 1;
    depth.Preroll = depth.High * PrerollDepth / HighWaterMark;
    if (depth.Preroll < 1) depth.Preroll = 1;
    return depth;
}

CKXFile::CKXFile() : CKXFile(CPlayLibrary::Shared().Api()) {}

CKXFile::CKXFile(const KXPlayApi* api) : CKXFile(api, WaitLimits()) {}

CKXFile::CKXFile(const KXPlayApi* api, const WaitLimits& waits) : CKXFile(api, waits, nullptr) {}

CKXFile::CKXFile(const KXPlayApi* api, const WaitLimits& waits, IPictureMemory* memory)
    : Api(api),
      Waits(waits),
      PictureMemory(memory),
      SizeKnownEvent(NewEvent(false)),
      InfoReadyEvent(NewEvent(false)),
      PictureSignal(NewEvent(false)),
      SoundSignal(NewEvent(false)),
      ThreadReadyEvent(NewEvent(true)),
      RoomSignal(NewEvent(false)) {}

CKXFile::~CKXFile() {
    if (PlayHandle.load()) CloseFile();
    if (FramePool) {
        FramePool->FreeAll();
        FramePool.reset();
    }
    if (MessageThreadHandle) {
        // The thread sets ThreadReadyEvent only once its queue exists, so the
        // quit message posted after it is not lost. Without that event the
        // post is repeated until it is accepted or the thread has ended.
        HANDLE thread = MessageThreadHandle.get();
        if (ThreadReadyEvent) {
            HANDLE started[2] = {ThreadReadyEvent.get(), thread};
            WaitForMultipleObjects(2, started, FALSE, INFINITE);
        }
        while (!PostThreadMessageA(MessageThreadId, QuitMessage, 0, 0) &&
               WaitForSingleObject(thread, 10) == WAIT_TIMEOUT) {
        }
        WaitForSingleObject(thread, INFINITE);
    }
}

bool CKXFile::OpenFile(const wchar_t* path) {
    if (!path) return false;
    if (PlayHandle.load()) CloseFile();
    try {
        FilePath.assign(path);
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (!MessageThreadHandle) {
        DWORD id = 0;
        MessageThreadHandle.reset(CreateThread(nullptr, MessageThreadStack, &CKXFile::MessageThread, this,
                                               STACK_SIZE_PARAM_IS_A_RESERVATION, &id));
        if (MessageThreadHandle) MessageThreadId = id;
    }
    if (!Api) return false;
    {
        std::lock_guard<CCriticalSection> hold(HandleLock);
        PlayHandle = Api->OpenFileExW(FilePath.c_str());
    }
    const KXPLAYHANDLE handle = PlayHandle.load();
    if (!handle) return false;
    BeginNoticeSegment();
    FileEnded = 0;
    AudioFinished = 0;
    VideoDrained = 0;
    InfoReady = 0;
    InfoAwaited = 0;
    ResetEvent(SizeKnownEvent.get());
    ResetEvent(InfoReadyEvent.get());
    PictureReader = 1;
    OutOfMemory = 0;
    SoundOutOfMemory = 0;
    BudgetBytes = PictureBudgetBytes();
    // The new file has not been started, whatever the previous one was doing.
    Playing = 0;
    Paused = 0;
    Stopped = 1;
    if (MessageThreadHandle && !MessageWindow.load()) {
        HANDLE started[2] = {ThreadReadyEvent.get(), MessageThreadHandle.get()};
        WaitForMultipleObjects(2, started, FALSE, Waits.WindowMs);
    }
    const HWND window = MessageWindow.load();
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
    const HoldRefusal refusal(this);
    {
        std::lock_guard<CCriticalSection> hold(HandleLock);
        Api->CloseFile(PlayHandle.load());
        FlushBuffers();
        PlayHandle = nullptr;
        TotalFrames = -1;
        DurationMs = 0;
        PictureWidth = 0;
        PictureHeight = 0;
    }
    SignalWaiters();
}

DWORD WINAPI CKXFile::MessageThread(void* file) {
    static_cast<CKXFile*>(file)->RunMessageLoop();
    return 0;
}

void CKXFile::RunMessageLoop() {
    MSG msg;
    // Makes the thread's queue exist before anyone is told the thread is ready.
    PeekMessageA(&msg, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
    if (!AcquireWindowClass()) {
        SetEvent(ThreadReadyEvent.get());
        return;
    }
    const HWND window =
        CreateWindowExA(0, WindowClassName, nullptr, 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    if (!window) {
        ReleaseWindowClass();
        SetEvent(ThreadReadyEvent.get());
        return;
    }
    MessageWindow = window;
    SetEvent(ThreadReadyEvent.get());
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        if (msg.message == KX_MSG_FILE_END) {
            if (HandledSegment.load() == NoticeSegment.load()) MarkFileEnded();
        } else if (msg.message == SegmentMessage) {
            ReachSegment(static_cast<uint32_t>(msg.wParam));
        } else if (msg.message == KX_MSG_FILE_INFO) {
            OnFileInfo();
        } else if (msg.message == QuitMessage) {
            break;
        }
    }
    MessageWindow = nullptr;
    DestroyWindow(window);
    ReleaseWindowClass();
}

void CKXFile::OnFileInfo() {
    std::lock_guard<CCriticalSection> hold(HandleLock);
    const KXPLAYHANDLE handle = PlayHandle.load();
    if (!handle) return;
    TotalFrames = Api->GetFileTotalFrames(handle);
    DurationMs = Api->GetFileTimeMilliSec(handle);
    InfoReady = 1;
    SetEvent(InfoReadyEvent.get());
}

void CKXFile::MarkFileEnded() {
    FileEnded = 1;
    // Nothing more comes, so a seek waiting for the preroll need not wait on.
    PrerollReached = 1;
    SignalWaiters();
}

void CKXFile::BeginNoticeSegment() {
    const uint32_t segment = ++NoticeSegment;
    if (!MessageThreadId || !PostThreadMessageA(MessageThreadId, SegmentMessage, segment, 0)) {
        // No queue to mark (yet): nothing the library posted can be waiting
        // in it either.
        ReachSegment(segment);
    }
}

void CKXFile::ReachSegment(uint32_t segment) {
    uint32_t reached = HandledSegment.load();
    while (static_cast<int32_t>(segment - reached) > 0 && !HandledSegment.compare_exchange_weak(reached, segment)) {
    }
}

void CKXFile::SignalWaiters() {
    SetEvent(PictureSignal.get());
    SetEvent(SoundSignal.get());
}

void KX_PLAY_CALL CKXFile::DecodeCallback(long, char* data, long length, FrameInfo* info,
                                          void* context, long) {
    if (!info || !context) return;
    CKXFile* self = static_cast<CKXFile*>(context);
    if (info->type == KX_FRAME_YUY2) {
        if (self->PictureWidth.load() == 0 || self->PictureHeight.load() == 0) {
            self->OnFirstPicture(info->width, info->height);
        }
        if (info->width != self->PictureWidth.load() && info->height != self->PictureHeight.load()) {
            self->FileEnded = 1;
            self->SignalWaiters();
            return;
        }
        // Still no size (a first picture with one dimension 0 or out of
        // range matches the unknown 0 in that dimension): the pool may be a
        // previous file's, and a buffer queued from it would later be handed
        // back to a pool of another size and overrun there.
        if (self->PictureWidth.load() == 0 || self->PictureHeight.load() == 0) return;
        self->QueuePicture(data, length);
    } else if (info->type == KX_FRAME_PCM) {
        self->QueueSound(data, length);
    }
}

void CKXFile::OnFirstPicture(int32_t width, int32_t height) {
    if (width < 1 || width > MaxWidth || height < 1 || height > MaxHeight) return;
    PictureWidth = width;
    DestinationStride = width;
    PictureBytes = width * height * 2;
    PictureHeight = height;
    if (FramePool) {
        FramePool->FreeAll();
        FramePool.reset();
    }
    const BufferDepth depth = DepthFor(PictureBytes.load(), BudgetBytes.load());
    KeptDepth = depth.Kept;
    HighDepth = depth.High;
    LowDepth = depth.Low;
    PrerollAt = depth.Preroll;
    FramePool.reset(new (std::nothrow) CFramePool(PictureBytes.load(), depth.Kept, PictureMemory));
    if (FramePool && FramePool->KeptLimit() > 0) {
        SetEvent(SizeKnownEvent.get());
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
        PrerollReached = 1;
        return;
    }
    uint8_t* buffer = pool->AcquireBuffer();
    if (!buffer) buffer = AwaitPoolBuffer(pool);
    if (!buffer) return;
    std::memcpy(buffer, data, static_cast<size_t>(length));
    int32_t queued = 0;
    {
        std::lock_guard<CCriticalSection> hold(QueueLock);
        if (!PictureQueue.Append(QueuedPicture{static_cast<int32_t>(length), buffer})) {
            pool->ReleaseBuffer(buffer);
            // The picture is lost: the stream must fail once the queued ones
            // are out, not end as if complete.
            MarkOutOfMemory();
            return;
        }
        queued = PictureQueue.Count();
    }
    DataSinceFlush = 1;
    AwaitingPicture = 0;
    if (!Set(PrerollReached) && (queued >= PrerollAt.load() || Set(FileEnded))) PrerollReached = 1;
    SignalWaiters();
    if (!Set(Paused) && queued >= HighDepth.load()) BackPressurePause();
}

uint8_t* CKXFile::AwaitPoolBuffer(CFramePool* pool) {
    if (QueuedPictureCount() > 0) {
        if (!Set(Paused)) BackPressurePause();
        SignalWaiters();
        // A read gives its buffer back to the pool, which keeps it.
        if (HoldDecoding([this, pool] { return pool->KeptCount() > 0 || QueuedPictureCount() == 0; })) {
            if (uint8_t* buffer = pool->AcquireBuffer()) return buffer;
        } else {
            return nullptr;
        }
    }
    // Nothing queued, so nothing comes back: the stream cannot go on (a
    // flush, after a seek, lets it try again).
    MarkOutOfMemory();
    return nullptr;
}

void CKXFile::QueueSound(const char* data, long length) {
    if (!FramePool || !data || length <= 0 || Set(AwaitingPicture)) return;
    if (!Set(AudioStarted)) {
        if (!AudioBuffer.Allocate()) {
            // The piece is lost, and so is the sound's continuity: the sound
            // stream fails instead of playing on with a gap.
            SoundOutOfMemory = 1;
            DataSinceFlush = 1;
            SetEvent(SoundSignal.get());
            return;
        }
        AudioStarted = 1;
    }
    const uint32_t bytes = static_cast<uint32_t>(length);
    // The ring's high water normally pauses decoding long before it is full;
    // a pause can come late when another thread holds the decoding control
    // while a fast library keeps calling back.
    const uint32_t capacity = static_cast<uint32_t>(AudioBuffer.CapacityBytes());
    if (AudioBuffer.Write(data, bytes) == 0 && Set(SoundConsumer) && bytes < capacity &&
        HoldDecoding([this, bytes, capacity] {
            return !Set(SoundConsumer) || AudioBuffer.Available() + bytes < capacity;
        })) {
        AudioBuffer.Write(data, bytes);
    }
    SetEvent(SoundSignal.get());
    DataSinceFlush = 1;
    if (Set(SoundConsumer) && !Set(Paused) && AudioBuffer.Available() >= SoundHighWater) BackPressurePause();
}

void CKXFile::SetPictureReader(bool reading) {
    PictureReader = reading ? 1 : 0;
    if (!PicturesUnread()) return;
    DropQueuedPictures();
    // A back-pressure pause made for the pictures now holds nothing back.
    ResumeIfDrained(0);
    SignalWaiters();
}

void CKXFile::SetSoundConsumer(bool reading) {
    SoundConsumer = reading ? 1 : 0;
    // A hold for the sound ring ends with its reader.
    if (!reading) SetEvent(RoomSignal.get());
}

void CKXFile::DropQueuedPictures() {
    std::lock_guard<CCriticalSection> hold(QueueLock);
    while (PictureQueue.Count() > 0) {
        FramePool->ReleaseBuffer(PictureQueue.Front().Data);
        PictureQueue.RemoveFront();
    }
    SetEvent(RoomSignal.get());
}

void CKXFile::MarkOutOfMemory() {
    OutOfMemory = 1;
    DataSinceFlush = 1;
    SignalWaiters();
}

bool CKXFile::SoundCanStillCome() {
    if (!IsOpen() || Set(Stopped)) return false;
    ResumeIfDrained(QueuedPictureCount());
    return true;
}

bool CKXFile::SoundHasRoom() const {
    return !Set(SoundConsumer) || !Set(AudioStarted) || AudioBuffer.Available() < SoundLowWater;
}

bool CKXFile::ReadVideoFrame(uint8_t* destination, int32_t capacity) {
    int32_t remaining = 0;
    {
        std::lock_guard<CCriticalSection> hold(QueueLock);
        if (PictureQueue.Count() == 0) {
            VideoDrained = 1;
            return false;
        }
        const QueuedPicture& oldest = PictureQueue.Front();
        if (!destination || capacity < oldest.Length) return false;
        if (!CopyOut(destination, capacity, oldest.Data, oldest.Length, PictureWidth.load(), PictureHeight.load(),
                     DestinationStride.load())) {
            return false;
        }
        FramePool->ReleaseBuffer(oldest.Data);
        PictureQueue.RemoveFront();
        remaining = PictureQueue.Count();
    }
    SetEvent(RoomSignal.get());
    ResumeIfDrained(remaining);
    return true;
}

bool CKXFile::CopyOut(uint8_t* destination, int32_t capacity, const uint8_t* picture, int32_t length,
                      int32_t width, int32_t height, int32_t stride) {
    return CopyPicture(destination, capacity, picture, length, width, height, stride);
}

bool CKXFile::ReadAudio(uint8_t* destination, uint32_t length) {
    if (!Set(AudioStarted)) {
        if (Set(PrerollReached)) AudioFinished = 1;
        return false;
    }
    if (Set(FileEnded) && (!AudioBuffer.HasStorage() || AudioBuffer.Available() < SoundTailBytes)) {
        AudioFinished = 1;
        return false;
    }
    // The ring answers a null destination with the count it holds and true;
    // passed on, that would report sound delivered that was never copied.
    if (!destination) return false;
    uint32_t copied = length;
    if (!AudioBuffer.Read(destination, &copied)) return false;
    SetEvent(RoomSignal.get());
    ResumeIfDrained(QueuedPictureCount());
    return true;
}

void CKXFile::FlushBuffers() {
    if (!PlayHandle.load() || !Set(DataSinceFlush)) return;
    const HoldRefusal refusal(this);
    if (Set(AudioStarted)) {
        AudioBuffer.Clear();
        AudioFinished = 0;
    }
    DropQueuedPictures();
    FileEnded = 0;
    VideoDrained = 0;
    OutOfMemory = 0;
    SoundOutOfMemory = 0;
    Paused = 0;
    PrerollReached = 0;
    DataSinceFlush = 0;
    AwaitingPicture = 1;
    SignalWaiters();
}

bool CKXFile::PauseDecoding() {
    std::lock_guard<CCriticalSection> hold(ControlLock);
    const KXPLAYHANDLE handle = PlayHandle.load();
    if (!handle) return false;
    PauseWanted = 0;
    if (Set(Paused)) return true;
    Paused = 1;
    Playing = 0;
    return Api->Pause(handle) != 0;
}

void CKXFile::BackPressurePause() {
    std::unique_lock<CCriticalSection> hold(ControlLock, std::try_to_lock);
    if (hold.owns_lock()) {
        PauseDecoding();
        return;
    }
    PauseWanted = 1;
    // The holder may have checked before the flag was set and let go since.
    std::unique_lock<CCriticalSection> retry(ControlLock, std::try_to_lock);
    if (retry.owns_lock() && Set(PauseWanted)) PauseDecoding();
}

template <typename Room>
bool CKXFile::HoldDecoding(Room hasRoom) {
    while (!hasRoom()) {
        if (HoldsRefused.load() != 0 || Set(Stopped) || !IsOpen()) return false;
        WaitForSingleObject(RoomSignal.get(), INFINITE);
    }
    return true;
}

void CKXFile::RefuseHolds() {
    ++HoldsRefused;
    SetEvent(RoomSignal.get());
}

void CKXFile::AllowHolds() { --HoldsRefused; }

bool CKXFile::StoresFull() {
    if (Set(SoundConsumer) && AudioBuffer.Available() >= SoundHighWater) return true;
    return !PicturesUnread() && QueuedPictureCount() >= HighDepth.load();
}

void CKXFile::ApplyWantedPause(KXPLAYHANDLE handle) {
    if (!Set(PauseWanted)) return;
    PauseWanted = 0;
    if (Set(Paused) || Set(Stopped) || !StoresFull()) return;
    Paused = 1;
    Playing = 0;
    Api->Pause(handle);
}

bool CKXFile::ResumeDecoding() {
    std::lock_guard<CCriticalSection> hold(ControlLock);
    return PlayLocked();
}

void CKXFile::ResumeIfDrained(int32_t queued) {
    if (Set(FileEnded) || Set(Stopped) || !Set(Paused) || !SoundHasRoom()) return;
    if (!PicturesUnread() && queued >= LowDepth.load()) return;
    std::lock_guard<CCriticalSection> hold(ControlLock);
    // Stopped again under the lock: a stop that came after the test above
    // stays a stop.
    if (!Set(Stopped)) PlayLocked();
}

bool CKXFile::PlayLocked() {
    const KXPLAYHANDLE handle = PlayHandle.load();
    if (!handle) return false;
    if (Set(Playing)) return true;
    Playing = 1;
    Stopped = 0;
    Paused = 0;
    Api->SetPlayOption(handle, 0, 1);
    Api->SetDecodeMode(handle, 1);
    const bool played = Api->Play(handle, nullptr) != 0;
    ApplyWantedPause(handle);
    return played;
}

void CKXFile::StopDecoding() {
    {
        std::lock_guard<CCriticalSection> hold(ControlLock);
        const KXPLAYHANDLE handle = PlayHandle.load();
        if (!handle || Set(Stopped)) return;
        Playing = 0;
        Stopped = 1;
        // A held decoding thread sees Stopped and leaves the callback, which
        // the library's Stop may wait for.
        SetEvent(RoomSignal.get());
        Api->Stop(handle);
    }
    SignalWaiters();
}

bool CKXFile::SeekTo(uint32_t ms) {
    const KXPLAYHANDLE handle = PlayHandle.load();
    const uint32_t duration = DurationMs.load();
    if (!handle || duration == 0 || ms >= duration) return false;
    {
        // The removal of the callback may wait for one in progress.
        const HoldRefusal refusal(this);
        Api->SetDecCallBackEx(handle, nullptr, nullptr, 0, 0);
        if (Set(Stopped)) ResumeDecoding();
        PauseDecoding();
        BeginNoticeSegment();
        FlushBuffers();
    }
    // The flush keeps every flag when nothing was decoded since the last one,
    // and an end notice needs no data: after a seek into the last picture,
    // a seek back would otherwise start with the old end and preroll still
    // set, and the streams would end the new segment at once.
    FileEnded = 0;
    PrerollReached = 0;
    VideoDrained = 0;
    AudioFinished = 0;
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
    if (PictureWidth.load() != 0 && PictureHeight.load() != 0) {
        *width = PictureWidth.load();
        *height = PictureHeight.load();
        return true;
    }
    if (WaitForSingleObject(SizeKnownEvent.get(), Waits.SizeMs) == WAIT_OBJECT_0) {
        *width = PictureWidth.load();
        *height = PictureHeight.load();
        return true;
    }
    *width = 0;
    *height = 0;
    return false;
}

void CKXFile::AwaitFileInfo() {
    if (Set(InfoAwaited)) return;
    if (!Set(InfoReady) && WaitForSingleObject(InfoReadyEvent.get(), Waits.InfoMs) != WAIT_OBJECT_0) {
        std::lock_guard<CCriticalSection> hold(HandleLock);
        const KXPLAYHANDLE handle = PlayHandle.load();
        if (handle && !Set(InfoReady)) {
            TotalFrames = Api->GetFileTotalFrames(handle);
            DurationMs = Api->GetFileTimeMilliSec(handle);
        }
    }
    InfoAwaited = 1;
}

uint32_t CKXFile::GetDurationMs() {
    if (!PlayHandle.load()) return 0;
    AwaitFileInfo();
    return DurationMs.load();
}

int32_t CKXFile::GetFrameRate() {
    if (!PlayHandle.load()) return 0;
    AwaitFileInfo();
    const int64_t frames = TotalFrames.load();
    const int64_t ms = DurationMs.load();
    if (frames <= 0 || ms == 0) return DefaultFrameRate;
    const int64_t rate = frames * 1000 / ms;
    if (rate < 1) return DefaultFrameRate;
    return static_cast<int32_t>(rate > MaxFrameRate ? MaxFrameRate : rate);
}

double CKXFile::GetPicturePeriod() {
    const int32_t rate = GetFrameRate();
    if (rate == 0) return 0;
    const int64_t frames = TotalFrames.load();
    const int64_t ms = DurationMs.load();
    if (frames > 0 && ms >= frames) return static_cast<double>(ms) * 10000.0 / static_cast<double>(frames);
    return 10000000.0 / rate;
}

int32_t CKXFile::QueuedPictureCount() {
    std::lock_guard<CCriticalSection> hold(QueueLock);
    return PictureQueue.Count();
}

bool CKXFile::PictureCanStillCome() {
    if (QueuedPictureCount() > 0) return true;
    if (Set(FileEnded)) return false;
    // Held for the sound reader to catch up: pictures come once it has.
    if (Set(Paused) && !SoundHasRoom()) return true;
    ResumeIfDrained(0);
    return Set(Playing);
}
