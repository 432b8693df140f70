#include "remote/HelperProcess.h"

#include "framework/ScopedLock.h"
#include "framework/ScopedTryLock.h"
#include "common/WidePath.h"
#include "reader/PictureCopy.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

HANDLE Handle(uint64_t value) { return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(value)); }

uint64_t Value(HANDLE handle) { return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(handle)); }

// The folder of the module that contains this code, with its backslash.
std::wstring ModuleFolder() {
    return CWidePath::FolderOfModuleHolding(reinterpret_cast<const void*>(&ModuleFolder));
}

// Calls that wait by design in the reader (see CKXFile::WaitLimits).
bool WaitsByDesign(remote::Call call) {
    return call == remote::CallOpen || call == remote::CallVideoSize || call == remote::CallDuration ||
           call == remote::CallFrameRate || call == remote::CallPicturePeriod;
}

volatile LONG SectionCounter = 0;

}  // namespace

CHelperProcess::CHelperProcess() = default;

CHelperProcess::~CHelperProcess() {
    if (Helper) {
        // A helper that still answers closes its file and ends by itself;
        // closing the job ends it in any case.
        if (SUCCEEDED(Fault()) && Call(remote::CallQuit, 0, 0) == 0) {
            WaitForSingleObject(Helper.Get(), CallLimitMs);
        }
        TerminateProcess(Helper.Get(), 1);
    }
    if (PictureView) UnmapViewOfFile(PictureView);
    if (Block) UnmapViewOfFile(Block);
}

HANDLE CHelperProcess::ToHelper(HANDLE own) {
    HANDLE theirs = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), own, Helper.Get(), &theirs, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
        return nullptr;
    }
    return theirs;
}

HRESULT CHelperProcess::Start() {
    const std::wstring folder = ModuleFolder();
    const std::wstring program = folder + remote::HostProgram;
    if (folder.empty() || GetFileAttributesW(program.c_str()) == INVALID_FILE_ATTRIBUTES) {
        return HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);
    }
    wchar_t name[96];
    std::swprintf(name, 96, L"Local\\KXVDSrc.%lu.%ld.%lu", GetCurrentProcessId(),
                  InterlockedIncrement(&SectionCounter), GetTickCount());
    Section.Reset(
        CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(remote::ControlBlock), name));
    if (!Section) return E_OUTOFMEMORY;
    Block = static_cast<remote::ControlBlock*>(MapViewOfFile(Section.Get(), FILE_MAP_ALL_ACCESS, 0, 0, 0));
    ReadyEvent.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    bool events = Block && ReadyEvent;
    for (int i = 0; i < remote::LaneCount && events; ++i) {
        ToHost[i].Reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
        ToProxy[i].Reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
        events = ToHost[i] && ToProxy[i];
    }
    if (!events) return E_OUTOFMEMORY;

    // The helper ends with the module's process: closing the job's last
    // handle (our own, also at process exit) ends every process in it.
    Job.Reset(CreateJobObjectW(nullptr, nullptr));
    if (Job) {
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        SetInformationJobObject(Job.Get(), JobObjectExtendedLimitInformation, &limits, sizeof(limits));
    }

    std::wstring command = L"\"" + program + L"\" " + name;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started = {};
    if (!CreateProcessW(program.c_str(), &command[0], nullptr, nullptr, FALSE, CREATE_SUSPENDED | CREATE_NO_WINDOW,
                        nullptr, folder.c_str(), &startup, &started)) {
        const DWORD error = GetLastError();
        return (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) ? HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND)
                                                                                : CO_E_SERVER_EXEC_FAILURE;
    }
    Helper.Reset(started.hProcess);
    HelperThread.Reset(started.hThread);
    // Inside a job that forbids nesting the helper still watches our process.
    if (Job) AssignProcessToJobObject(Job.Get(), Helper.Get());

    HANDLE module = nullptr;
    bool handed = DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), Helper.Get(), &module, SYNCHRONIZE,
                                  FALSE, 0) != 0;
    Block->Module = Value(module);
    Block->Ready = Value(ToHelper(ReadyEvent.Get()));
    handed = handed && Block->Ready;
    for (int i = 0; i < remote::LaneCount && handed; ++i) {
        Block->Lanes[i].ToHost = Value(ToHelper(ToHost[i].Get()));
        Block->Lanes[i].ToProxy = Value(ToHelper(ToProxy[i].Get()));
        handed = Block->Lanes[i].ToHost && Block->Lanes[i].ToProxy;
    }
    for (int i = 0; i < remote::LaneCount; ++i) {
        ToHostBells[i] = CDoorbell(&Block->Lanes[i].ToHostBell, ToHost[i].Get());
        ToProxyBells[i] = CDoorbell(&Block->Lanes[i].ToProxyBell, ToProxy[i].Get());
    }
    Block->Magic = remote::BlockMagic;
    Block->Version = remote::BlockVersion;
    if (!handed || ResumeThread(HelperThread.Get()) == static_cast<DWORD>(-1)) {
        Fail(CO_E_SERVER_EXEC_FAILURE);
        return CO_E_SERVER_EXEC_FAILURE;
    }

    HANDLE waits[2] = {ReadyEvent.Get(), Helper.Get()};
    if (WaitForMultipleObjects(2, waits, FALSE, StartLimitMs) != WAIT_OBJECT_0) {
        Fail(CO_E_SERVER_EXEC_FAILURE);
        return CO_E_SERVER_EXEC_FAILURE;
    }
    HANDLE picture = nullptr;
    HANDLE sound = nullptr;
    const bool duplicated = DuplicateHandle(Helper.Get(), Handle(Block->PictureEvent), GetCurrentProcess(), &picture, 0,
                                            FALSE, DUPLICATE_SAME_ACCESS) &&
                            DuplicateHandle(Helper.Get(), Handle(Block->SoundEvent), GetCurrentProcess(), &sound, 0,
                                            FALSE, DUPLICATE_SAME_ACCESS);
    PictureSignal.Reset(picture);
    SoundSignal.Reset(sound);
    if (!duplicated) {
        Fail(CO_E_SERVER_EXEC_FAILURE);
        return CO_E_SERVER_EXEC_FAILURE;
    }
    return S_OK;
}

void CHelperProcess::Fail(HRESULT fault) {
    HRESULT none = S_OK;
    if (!FaultCode.compare_exchange_strong(none, fault)) return;
    if (Helper) TerminateProcess(Helper.Get(), 1);
    // The workers waiting for data look again and find the fault.
    if (PictureSignal) SetEvent(PictureSignal.Get());
    if (SoundSignal) SetEvent(SoundSignal.Get());
}

int64_t CHelperProcess::Call(remote::Call call, int64_t argument, int64_t fallback, void* data, uint32_t bytes) {
    if (!Block || !Helper || FAILED(Fault())) return fallback;
    for (int i = 0; i < remote::LaneCount; ++i) {
        CScopedTryLock taken(&LaneLocks[i]);
        if (taken.Holds()) return CallOnLane(i, call, argument, fallback, data, bytes);
    }
    const int index = static_cast<int>(GetCurrentThreadId() % remote::LaneCount);
    CScopedLock hold(&LaneLocks[index]);
    return CallOnLane(index, call, argument, fallback, data, bytes);
}

int64_t CHelperProcess::CallOnLane(int index, remote::Call call, int64_t argument, int64_t fallback, void* data,
                                   uint32_t bytes) {
    remote::Lane* lane = &Block->Lanes[index];
    if (ReplyPending[index]) {
        ReplyPending[index] = false;
        if (!AwaitReply(index, CallLimitMs, nullptr, nullptr)) return fallback;
    }
    if (call == remote::CallOpen) {
        if (!data || bytes > remote::LaneDataBytes) return fallback;
        std::memcpy(lane->Data, data, bytes);
    }
    lane->Call = call;
    lane->Argument = argument;
    lane->Turn = remote::TurnRequest;
    ToHostBells[index].Ring();
    const DWORD limit = WaitsByDesign(call) ? WaitingCallLimitMs : CallLimitMs;
    const bool reading = call == remote::CallReadVideo;
    int32_t remaining = -1;
    if (!AwaitReply(index, limit, reading ? data : nullptr, reading ? &remaining : nullptr)) return fallback;
    if (remaining >= 0) {
        // The copy is made: the read has succeeded, and the helper finishes it
        // while the picture goes downstream.
        ReplyPending[index] = true;
        return 1 + remaining;
    }
    const int64_t result = lane->Result;
    if (call == remote::CallReadAudio && result != 0 && data) {
        std::memcpy(data, lane->Data, static_cast<size_t>(argument));
    }
    const bool answersState =
        call == remote::CallState || call == remote::CallAwaitPictures || call == remote::CallAwaitSound;
    if (answersState && data && bytes <= remote::LaneDataBytes) {
        std::memcpy(data, lane->Data, bytes);
    }
    lane->Turn = remote::TurnIdle;
    return reading ? 0 : result;
}

bool CHelperProcess::AwaitReply(int index, DWORD limitMs, void* destination, int32_t* remaining) {
    remote::Lane* lane = &Block->Lanes[index];
    const DWORD begin = GetTickCount();
    for (;;) {
        const DWORD spent = GetTickCount() - begin;
        switch (ToProxyBells[index].Wait(Helper.Get(), spent >= limitMs ? 0 : limitMs - spent)) {
        case CDoorbell::Ended:
            Fail(HRESULT_FROM_WIN32(ERROR_PROCESS_ABORTED));
            return false;
        case CDoorbell::TimedOut:
            Fail(HRESULT_FROM_WIN32(ERROR_TIMEOUT));
            return false;
        case CDoorbell::Rung:
            break;
        }
        if (lane->Turn == remote::TurnReply) return true;
        if (lane->Turn == remote::TurnCopy) {
            const bool made = destination && CopyFromSection(lane->Picture, destination);
            const int32_t behind = lane->Picture.Remaining;
            lane->Copied = made ? 1 : 0;
            lane->Turn = remote::TurnCopied;
            ToHostBells[index].Ring();
            if (made && remaining) {
                *remaining = behind > 0 ? behind : 0;
                return true;
            }
        }
    }
}

bool CHelperProcess::CopyFromSection(const remote::PictureView& view, void* destination) {
    CScopedLock hold(&SectionLock);
    if (view.Generation != PictureGeneration || !PictureView) {
        if (PictureView) UnmapViewOfFile(PictureView);
        PictureView = nullptr;
        PictureSection.Reset();
        PictureViewBytes = 0;
        PictureGeneration = 0;
        HANDLE section = nullptr;
        if (!DuplicateHandle(Helper.Get(), Handle(view.Section), GetCurrentProcess(), &section, FILE_MAP_READ, FALSE,
                             0)) {
            return false;
        }
        PictureSection.Reset(section);
        // A view of the size the helper tells exists only when the section
        // is that large, so the checks below keep every copy inside it.
        PictureView = static_cast<const uint8_t*>(
            MapViewOfFile(PictureSection.Get(), FILE_MAP_READ, 0, 0, static_cast<SIZE_T>(view.SectionBytes)));
        if (!PictureView) return false;
        PictureViewBytes = view.SectionBytes;
        PictureGeneration = view.Generation;
    }
    // The helper says where the picture lies; it is checked against the view.
    if (view.Length < 0 || view.Offset > PictureViewBytes ||
        static_cast<uint64_t>(view.Length) > PictureViewBytes - view.Offset) {
        return false;
    }
    return ::CopyPicture(static_cast<uint8_t*>(destination), view.Capacity, PictureView + view.Offset, view.Length,
                         view.Width, view.Height, view.Stride);
}
