#include "playlib/Player.h"

#include <algorithm>
#include <new>

namespace {

constexpr size_t SoundPieceBytes = kxrec::SoundPieceSamples * 2;
// A record that cannot be decoded for want of memory is tried again this
// often, as long as decoding is wanted.
constexpr DWORD DecodeRetryMs = 50;

}  // namespace

std::shared_ptr<CPlayer> CPlayer::Open(const std::wstring& path) {
    std::shared_ptr<CPlayer> player(new (std::nothrow) CPlayer());
    if (!player) return nullptr;
    if (!player->Reader.Open(path)) return nullptr;
    const kxrec::RecordingHeader& header = player->Reader.Header();
    const std::vector<kxrec::RecordEntry>& records = player->Reader.Records();
    // Totals come from the records present, so a cut-short recording reports
    // what it can deliver.
    const uint64_t interval = 1000ull * header.fpsDen / header.fpsNum;
    uint64_t duration = 0;
    for (size_t i = 0; i < records.size(); ++i) {
        const kxrec::RecordEntry& e = records[i];
        if (e.IsPicture()) {
            player->PictureRecords.push_back(i);
            duration = std::max<uint64_t>(duration, e.timeMs + interval);
        } else {
            player->SoundRecords.push_back(i);
            const uint64_t end = static_cast<uint64_t>(e.firstSample) + e.sampleCount;
            duration = std::max<uint64_t>(duration, (end + kxrec::SamplesPerMs - 1) / kxrec::SamplesPerMs);
        }
    }
    player->PictureTotal = static_cast<LONG>(player->PictureRecords.size());
    player->Duration = static_cast<DWORD>(std::min<uint64_t>(duration, 0xFFFFFFFFu));
    player->HeldDuration = player->Duration;
    // A recording cut short (a recorder that lost power) still promises its
    // whole length in the header. Recorders' own libraries report that
    // promise and refuse to move into the part that is not there; so does
    // this one, so that players meet the same answers here.
    if (player->Reader.Damaged()) {
        if (header.pictureCount > static_cast<uint32_t>(player->PictureTotal)) {
            player->PictureTotal = static_cast<LONG>(std::min<uint32_t>(header.pictureCount, 0x7FFFFFFFu));
        }
        player->Duration = std::max<DWORD>(player->Duration, header.durationMs);
    }
    player->OpenTick = GetTickCount();

    // The thread keeps the player alive, and the module loaded, until it ends:
    // a Close from inside the callback returns before the thread has finished.
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCWSTR>(&CPlayer::ThreadProc), &module)) {
        return nullptr;
    }
    auto* self = new (std::nothrow) std::shared_ptr<CPlayer>(player);
    if (!self) {
        FreeLibrary(module);
        return nullptr;
    }
    player->Thread = CreateThread(nullptr, 0, ThreadProc, self, CREATE_SUSPENDED, &player->ThreadId);
    if (player->Thread == nullptr) {
        delete self;
        FreeLibrary(module);
        return nullptr;
    }
    ResumeThread(player->Thread);
    return player;
}

CPlayer::~CPlayer() {
    if (Thread != nullptr) CloseHandle(Thread);
}

DWORD WINAPI CPlayer::ThreadProc(void* param) {
    {
        std::unique_ptr<std::shared_ptr<CPlayer>> self(static_cast<std::shared_ptr<CPlayer>*>(param));
        (*self)->Run();
    }
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&CPlayer::ThreadProc), &module);
    FreeLibraryAndExitThread(module, 0);
}

void CPlayer::Close() {
    {
        CCriticalSection::CHolder hold(Lock);
        Closing = true;
        Callback = nullptr;
        User = nullptr;
        WakeAllConditionVariable(&Changed);
    }
    if (!OnDecodingThread()) WaitForSingleObject(Thread, INFINITE);
}

void CPlayer::SetMsgWnd(HWND wnd) {
    CCriticalSection::CHolder hold(Lock);
    InfoWnd = wnd;
    InfoPending = wnd != nullptr;
    WakeAllConditionVariable(&Changed);
}

void CPlayer::SetFileEndMsg(HWND wnd, UINT msg) {
    CCriticalSection::CHolder hold(Lock);
    EndWnd = wnd;
    EndMsg = msg;
    if (EndPending && EndWnd != nullptr) {
        PostMessageW(EndWnd, EndMsg, 0, 0);
        EndPending = false;
    }
}

void CPlayer::SetCallback(KXDecodeCallback callback, void* user) {
    CCriticalSection::CHolder hold(Lock);
    Callback = callback;
    User = user;
    WakeAllConditionVariable(&Changed);
    if (!OnDecodingThread()) WaitForCallbackReturn();
}

void CPlayer::WaitForCallbackReturn() {
    // Only the call that was running when the callback changed matters; a
    // later call already uses the new callback.
    const uint32_t started = CallsStarted;
    while (Calling && CallsStarted == started) {
        SleepConditionVariableCS(&Changed, Lock.Native(), INFINITE);
    }
}

void CPlayer::Play() {
    CCriticalSection::CHolder hold(Lock);
    Playing = true;
    WakeAllConditionVariable(&Changed);
}

void CPlayer::Pause() {
    CCriticalSection::CHolder hold(Lock);
    Playing = false;
}

bool CPlayer::SetPlayedTime(DWORD ms) {
    if (ms >= HeldDuration) return false;
    const std::vector<kxrec::RecordEntry>& records = Reader.Records();
    // The picture holding ms (the first one when none is that early), as real
    // decoders count: a picture whose whole-millisecond time is ms but whose
    // exact time on the recording's frame rate lies after it (picture 1 of
    // 30 a second, stored at 33 ms, starts at 33.3 ms) does not hold ms yet.
    const kxrec::RecordingHeader& header = Reader.Header();
    auto begun = [&](size_t ordinal) {
        const uint32_t stored = records[PictureRecords[ordinal]].timeMs;
        if (stored != ms) return stored < ms;
        const uint64_t exact = 1000ull * header.fpsDen * ordinal;  // in 1/fpsNum ms
        const bool onRate = header.fpsNum != 0 && exact / header.fpsNum == stored;
        return !onRate || exact <= static_cast<uint64_t>(ms) * header.fpsNum;
    };
    size_t picture = records.size();
    auto later = std::partition_point(PictureRecords.begin(), PictureRecords.end(), [&](const size_t& entry) {
        return begun(static_cast<size_t>(&entry - PictureRecords.data()));
    });
    if (later != PictureRecords.begin()) {
        picture = *(later - 1);
    } else if (!PictureRecords.empty()) {
        picture = PictureRecords.front();
    }
    // The sound record holding the sample at ms.
    const uint64_t sample = static_cast<uint64_t>(ms) * kxrec::SamplesPerMs;
    size_t sound = records.size();
    auto heard = std::upper_bound(SoundRecords.begin(), SoundRecords.end(), sample,
                                    [&](uint64_t s, size_t i) {
                                        return s < static_cast<uint64_t>(records[i].firstSample) +
                                                       records[i].sampleCount;
                                    });
    if (heard != SoundRecords.end()) sound = *heard;

    CCriticalSection::CHolder hold(Lock);
    Position = std::min(picture, sound);
    FirstPicture = picture;
    FirstSample = static_cast<uint32_t>(std::min<uint64_t>(sample, 0xFFFFFFFFu));
    Pending = false;
    AtEnd = false;
    EndPending = false;
    ++Generation;
    WakeAllConditionVariable(&Changed);
    return true;
}

bool CPlayer::InfoKnown() const {
    return GetTickCount() - OpenTick >= Reader.Header().infoDelayMs;
}

LONG CPlayer::TotalFrames() {
    return InfoKnown() ? PictureTotal : -1;
}

DWORD CPlayer::DurationMs() {
    return InfoKnown() ? Duration : 0;
}

bool CPlayer::NextRecord(size_t* index, uint32_t* skipSamples) {
    const std::vector<kxrec::RecordEntry>& records = Reader.Records();
    for (; Position < records.size(); ++Position) {
        const kxrec::RecordEntry& e = records[Position];
        if (e.IsPicture()) {
            if (Position >= FirstPicture) {
                *index = Position;
                *skipSamples = 0;
                return true;
            }
        } else if (static_cast<uint64_t>(e.firstSample) + e.sampleCount > FirstSample) {
            *index = Position;
            *skipSamples = FirstSample > e.firstSample ? FirstSample - e.firstSample : 0;
            return true;
        }
    }
    return false;
}

void CPlayer::ReachEnd() {
    AtEnd = true;
    Pending = false;
    Position = Reader.Records().size();
    if (EndWnd != nullptr) {
        PostMessageW(EndWnd, EndMsg, 0, 0);
    } else {
        EndPending = true;
    }
}

bool CPlayer::DecodeRecord(size_t index, uint32_t skipSamples) {
    const kxrec::RecordEntry& e = Reader.Records()[index];
    std::vector<uint8_t>& decoded = e.IsPicture() ? PictureBuffer : SoundBuffer;
    if (!Reader.Decode(index, decoded)) return false;
    Buffer = &decoded;
    Info = FrameInfo{};
    if (e.IsPicture()) {
        Info.width = static_cast<int32_t>(e.width);
        Info.height = static_cast<int32_t>(e.height);
        Info.stamp = static_cast<int32_t>(e.timeMs);
        Info.type = KX_FRAME_YUY2;
    } else {
        decoded.erase(decoded.begin(), decoded.begin() + static_cast<ptrdiff_t>(skipSamples) * 2);
        BufferFirstSample = e.firstSample + skipSamples;
        Info.type = KX_FRAME_PCM;
    }
    return true;
}

void CPlayer::Run() {
    CCriticalSection::CHolder hold(Lock);
    while (!Closing) {
        DWORD wait = INFINITE;
        if (InfoPending) {
            const DWORD elapsed = GetTickCount() - OpenTick;
            const DWORD delay = Reader.Header().infoDelayMs;
            if (elapsed >= delay) {
                PostMessageW(InfoWnd, KX_MSG_FILE_INFO, 0, 0);
                InfoPending = false;
            } else {
                wait = delay - elapsed;
            }
        }
        if (!Playing || Callback == nullptr || AtEnd) {
            SleepConditionVariableCS(&Changed, Lock.Native(), wait);
            continue;
        }
        if (!Pending) {
            size_t index = 0;
            uint32_t skipSamples = 0;
            if (!NextRecord(&index, &skipSamples)) {
                ReachEnd();
                continue;
            }
            const uint32_t generation = Generation;
            bool good = false;
            bool decoded = true;
            {
                CCriticalSection::CReleaser release(Lock);
                try {
                    good = DecodeRecord(index, skipSamples);
                } catch (const std::bad_alloc&) {
                    decoded = false;
                }
            }
            if (generation != Generation) continue;
            if (!decoded) {
                // Nothing is skipped: the record is decoded again once memory
                // comes back; Pause, seeks and Close end the wait.
                SleepConditionVariableCS(&Changed, Lock.Native(), DecodeRetryMs);
                continue;
            }
            if (!good) {
                // Decoding ends at the last good record.
                ReachEnd();
                continue;
            }
            Position = index + 1;
            Pending = true;
            PendingOffset = 0;
            // A Pause, Stop or removal during the decode holds the picture back.
            continue;
        }
        const size_t left = Buffer->size() - PendingOffset;
        FrameInfo info = Info;
        size_t bytes = left;
        if (Info.type == KX_FRAME_PCM) {
            bytes = std::min(left, SoundPieceBytes);
            info.stamp = static_cast<int32_t>((BufferFirstSample + PendingOffset / 2) / kxrec::SamplesPerMs);
        }
        const KXDecodeCallback callback = Callback;
        void* const user = User;
        const uint32_t generation = Generation;
        Calling = true;
        ++CallsStarted;
        {
            CCriticalSection::CReleaser release(Lock);
            callback(0, reinterpret_cast<char*>(Buffer->data() + PendingOffset), static_cast<long>(bytes),
                     &info, user, 0);
        }
        Calling = false;
        WakeAllConditionVariable(&Changed);
        if (generation == Generation) {
            PendingOffset += bytes;
            if (PendingOffset >= Buffer->size()) Pending = false;
        }
    }
}
