#include "remote/HelperProcess.h"

#include "reader/PictureCopy.h"

#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

namespace {

HANDLE Handle(uint64_t value) { return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(value)); }

uint64_t Value(HANDLE handle) { return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(handle)); }

// The folder of the module that contains this code, with its backslash.
std::wstring ModuleFolder() {
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&ModuleFolder), &self);
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(self, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return std::wstring();
    std::wstring folder(path, length);
    folder.resize(folder.find_last_of(L'\\') + 1);
    return folder;
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
    if (Helper.hProcess) {
        // A helper that still answers closes its file and ends by itself;
        // closing the job ends it in any case.
        if (SUCCEEDED(Fault()) && Call(remote::CallQuit, 0, 0) == 0) {
            WaitForSingleObject(Helper.hProcess, CallLimitMs);
        }
        TerminateProcess(Helper.hProcess, 1);
        CloseHandle(Helper.hProcess);
    }
    if (Helper.hThread) CloseHandle(Helper.hThread);
    if (Job) CloseHandle(Job);
    for (int i = 0; i < remote::LaneCount; ++i) {
        if (ToHost[i]) CloseHandle(ToHost[i]);
        if (ToProxy[i]) CloseHandle(ToProxy[i]);
    }
    if (ReadyEvent) CloseHandle(ReadyEvent);
    if (PictureSignal) CloseHandle(PictureSignal);
    if (SoundSignal) CloseHandle(SoundSignal);
    if (PictureView) UnmapViewOfFile(PictureView);
    if (PictureSection) CloseHandle(PictureSection);
    if (Block) UnmapViewOfFile(Block);
    if (Section) CloseHandle(Section);
}

HANDLE CHelperProcess::ToHelper(HANDLE own) {
    HANDLE theirs = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), own, Helper.hProcess, &theirs, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
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
    Section = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(remote::ControlBlock), name);
    if (!Section) return E_OUTOFMEMORY;
    Block = static_cast<remote::ControlBlock*>(MapViewOfFile(Section, FILE_MAP_ALL_ACCESS, 0, 0, 0));
    ReadyEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    bool events = Block && ReadyEvent;
    for (int i = 0; i < remote::LaneCount && events; ++i) {
        ToHost[i] = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        ToProxy[i] = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        events = ToHost[i] && ToProxy[i];
    }
    if (!events) return E_OUTOFMEMORY;

    // The helper ends with the module's process: closing the job's last
    // handle (our own, also at process exit) ends every process in it.
    Job = CreateJobObjectW(nullptr, nullptr);
    if (Job) {
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        SetInformationJobObject(Job, JobObjectExtendedLimitInformation, &limits, sizeof(limits));
    }

    std::wstring command = L"\"" + program + L"\" " + name;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    if (!CreateProcessW(program.c_str(), &command[0], nullptr, nullptr, FALSE, CREATE_SUSPENDED | CREATE_NO_WINDOW,
                        nullptr, folder.c_str(), &startup, &Helper)) {
        const DWORD error = GetLastError();
        Helper = PROCESS_INFORMATION{};
        return (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) ? HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND)
                                                                                : CO_E_SERVER_EXEC_FAILURE;
    }
    // Inside a job that forbids nesting the helper still watches our process.
    if (Job) AssignProcessToJobObject(Job, Helper.hProcess);

    HANDLE module = nullptr;
    bool handed = DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), Helper.hProcess, &module, SYNCHRONIZE,
                                  FALSE, 0) != 0;
    Block->Module = Value(module);
    Block->Ready = Value(ToHelper(ReadyEvent));
    handed = handed && Block->Ready;
    for (int i = 0; i < remote::LaneCount && handed; ++i) {
        Block->Lanes[i].ToHost = Value(ToHelper(ToHost[i]));
        Block->Lanes[i].ToProxy = Value(ToHelper(ToProxy[i]));
        handed = Block->Lanes[i].ToHost && Block->Lanes[i].ToProxy;
    }
    for (int i = 0; i < remote::LaneCount; ++i) {
        ToHostBells[i] = CDoorbell(&Block->Lanes[i].ToHostBell, ToHost[i]);
        ToProxyBells[i] = CDoorbell(&Block->Lanes[i].ToProxyBell, ToProxy[i]);
    }
    Block->Magic = remote::BlockMagic;
    Block->Version = remote::BlockVersion;
    if (!handed || ResumeThread(Helper.hThread) == static_cast<DWORD>(-1)) {
        Fail(CO_E_SERVER_EXEC_FAILURE);
        return CO_E_SERVER_EXEC_FAILURE;
    }

    HANDLE waits[2] = {ReadyEvent, Helper.hProcess};
    if (WaitForMultipleObjects(2, waits, FALSE, StartLimitMs) != WAIT_OBJECT_0) {
        Fail(CO_E_SERVER_EXEC_FAILURE);
        return CO_E_SERVER_EXEC_FAILURE;
    }
    if (!DuplicateHandle(Helper.hProcess, Handle(Block->PictureEvent), GetCurrentProcess(), &PictureSignal, 0, FALSE,
                         DUPLICATE_SAME_ACCESS) ||
        !DuplicateHandle(Helper.hProcess, Handle(Block->SoundEvent), GetCurrentProcess(), &SoundSignal, 0, FALSE,
                         DUPLICATE_SAME_ACCESS)) {
        Fail(CO_E_SERVER_EXEC_FAILURE);
        return CO_E_SERVER_EXEC_FAILURE;
    }
    return S_OK;
}

void CHelperProcess::Fail(HRESULT fault) {
    HRESULT none = S_OK;
    if (!FaultCode.compare_exchange_strong(none, fault)) return;
    if (Helper.hProcess) TerminateProcess(Helper.hProcess, 1);
    // The workers waiting for data look again and find the fault.
    if (PictureSignal) SetEvent(PictureSignal);
    if (SoundSignal) SetEvent(SoundSignal);
}

int CHelperProcess::TakeLane() {
    for (int i = 0; i < remote::LaneCount; ++i) {
        if (LaneLocks[i].try_lock()) return i;
    }
    const int lane = static_cast<int>(GetCurrentThreadId() % remote::LaneCount);
    LaneLocks[lane].lock();
    return lane;
}

int64_t CHelperProcess::Call(remote::Call call, int64_t argument, int64_t fallback, void* data, uint32_t bytes) {
    if (!Block || !Helper.hProcess || FAILED(Fault())) return fallback;
    const int index = TakeLane();
    std::lock_guard<CCriticalSection> hold(LaneLocks[index], std::adopt_lock);
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
    if (call == remote::CallState && result != 0 && data && bytes <= remote::LaneDataBytes) {
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
        switch (ToProxyBells[index].Wait(Helper.hProcess, spent >= limitMs ? 0 : limitMs - spent)) {
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
    std::lock_guard<CCriticalSection> hold(SectionLock);
    if (view.Generation != PictureGeneration || !PictureView) {
        if (PictureView) UnmapViewOfFile(PictureView);
        if (PictureSection) CloseHandle(PictureSection);
        PictureView = nullptr;
        PictureSection = nullptr;
        PictureViewBytes = 0;
        PictureGeneration = 0;
        if (!DuplicateHandle(Helper.hProcess, Handle(view.Section), GetCurrentProcess(), &PictureSection,
                             FILE_MAP_READ, FALSE, 0)) {
            PictureSection = nullptr;
            return false;
        }
        // A view of the size the helper tells exists only when the section
        // is that large, so the checks below keep every copy inside it.
        PictureView = static_cast<const uint8_t*>(
            MapViewOfFile(PictureSection, FILE_MAP_READ, 0, 0, static_cast<SIZE_T>(view.SectionBytes)));
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
