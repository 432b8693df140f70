// The module's side of the channel to one helper process (see
// RemoteProtocol.h): starts KXVDHost.exe from the module's own folder in a
// job object that ends it with the module's process, makes the calls, and
// copies pictures out of the helper's picture sections.
//
// Faults: a helper that is missing, cannot start or does not report ready
// within StartLimitMs fails Start with a distinct HRESULT. A helper that ends,
// or does not answer a call within its bound, is a fault for good: Fault()
// holds the HRESULT, the helper is ended (TerminateProcess), and every later
// call fails at once. A call never waits longer than its bound.
//
// Owns the control block's section and view, the lane events, the helper's
// process and its job (closing the job ends the helper), and the view of the
// current picture section.
//
// Threads: Start and the destructor on the filter's thread; Call from any
// thread: each call takes a free lane (LaneLocks, try-locked in turn, then
// waited for), which it holds for the call. SectionLock guards the picture section's view; it is taken
// with a lane lock held and never the other way round.
#pragma once

#include "framework/CritLock.h"
#include "framework/UniqueHandle.h"
#include "remote/Doorbell.h"
#include "remote/RemoteProtocol.h"

#include <windows.h>

#include <atomic>
#include <cstdint>

class CHelperProcess {
public:
    CHelperProcess();
    ~CHelperProcess();
    CHelperProcess(const CHelperProcess&) = delete;
    CHelperProcess& operator=(const CHelperProcess&) = delete;

    // Starts the helper and waits until it serves. S_OK, or:
    //  HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND)  KXVDHost.exe is not beside the module;
    //  CO_E_SERVER_EXEC_FAILURE                 it could not start, or ended or
    //                                           stayed silent before it served.
    HRESULT Start();

    // One call; its result, or fallback when the helper has failed. For
    // CallOpen, data (bytes) goes into the lane first; for CallReadAudio the
    // lane's data (Argument bytes) comes back into data, for CallState,
    // CallAwaitPictures and CallAwaitSound the state (bytes); for CallReadVideo
    // the picture is copied into data (capacity Argument bytes) and the
    // result is 1 + the pictures still queued once it is copied (the call
    // returns as soon as the copy is made), or 0.
    int64_t Call(remote::Call call, int64_t argument, int64_t fallback, void* data = nullptr, uint32_t bytes = 0);

    // The file's events duplicated into this process (null before Start).
    HANDLE PictureEvent() const { return PictureSignal.Get(); }
    HANDLE SoundEvent() const { return SoundSignal.Get(); }
    HRESULT Fault() const { return FaultCode.load(); }

    // Bounds of a call's answer: calls that wait by design in the reader (the
    // open, the picture size, the file information) and all others.
    static constexpr DWORD StartLimitMs = 30000;
    static constexpr DWORD WaitingCallLimitMs = 30000;
    static constexpr DWORD CallLimitMs = 10000;

private:
    // The call on lane index, whose lock the caller holds.
    int64_t CallOnLane(int index, remote::Call call, int64_t argument, int64_t fallback, void* data, uint32_t bytes);
    // Waits for the lane's answer, making the copy it may ask for; with
    // remaining given, a copy made ends the wait (the reply is then pending)
    // and the pictures queued behind the copied one are stored there.
    bool AwaitReply(int index, DWORD limitMs, void* destination, int32_t* remaining);
    bool CopyFromSection(const remote::PictureView& view, void* destination);
    // Records the first fault and ends the helper.
    void Fail(HRESULT fault);
    HANDLE ToHelper(HANDLE own);

    CUniqueHandle Section;
    remote::ControlBlock* Block = nullptr;
    CUniqueHandle Job;
    // The helper's process and its first thread, which starts suspended.
    CUniqueHandle Helper;
    CUniqueHandle HelperThread;
    CUniqueHandle ReadyEvent;
    CUniqueHandle ToHost[remote::LaneCount];
    CUniqueHandle ToProxy[remote::LaneCount];
    CDoorbell ToHostBells[remote::LaneCount];
    CDoorbell ToProxyBells[remote::LaneCount];
    // A lane whose last call returned before the helper's reply; guarded by
    // the lane's lock.
    bool ReplyPending[remote::LaneCount] = {};
    CCritLock LaneLocks[remote::LaneCount];
    CUniqueHandle PictureSignal;
    CUniqueHandle SoundSignal;
    std::atomic<HRESULT> FaultCode{S_OK};

    CCritLock SectionLock;
    CUniqueHandle PictureSection;      // guarded by SectionLock
    const uint8_t* PictureView = nullptr;  // guarded by SectionLock
    uint64_t PictureViewBytes = 0;     // guarded by SectionLock
    uint32_t PictureGeneration = 0;    // guarded by SectionLock
};
