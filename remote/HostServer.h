// The helper's side of the channel (see RemoteProtocol.h): maps the control
// block the module made, serves each lane on a thread of its own by calling
// the media file, and ends the process when the module asks it to or when the
// module's process has ended (so no helper outlives its module, job object
// or not).
//
// Owns the control block's mapping and view, the quit event and the lane
// threads. The file is
// constructed on the main thread before the lanes start and destroyed after
// they have ended. Serving is per thread: the lane whose call the thread is
// serving, with its rings, for the copy out of a picture read.
#pragma once

#include "framework/SyncEvent.h"
#include "framework/UniqueHandle.h"
#include "remote/Doorbell.h"
#include "remote/RemoteProtocol.h"

#include <windows.h>

#include <cstdint>

class CHostedFile;
class CSectionPictureMemory;

class CHostServer {
public:
    explicit CHostServer(CSectionPictureMemory* memory);
    ~CHostServer();
    CHostServer(const CHostServer&) = delete;
    CHostServer& operator=(const CHostServer&) = delete;

    // Main thread: maps the block named sectionName and checks its version;
    // false (and the process should end) when it cannot.
    bool Attach(const wchar_t* sectionName);
    // Main thread: serves until the module quits or ends; the exit code.
    int Serve(CHostedFile* file);

    // A lane's thread, inside CallReadVideo with the picture taken out of the
    // reader's queue (no lock held): has the module copy it (a buffer of the
    // pool) into its destination; the module's answer. remaining pictures
    // are queued behind it.
    bool CopyOutThroughLane(const uint8_t* picture, int32_t length, int32_t width, int32_t height, int32_t stride,
                            int32_t capacity, int32_t remaining);

private:
    struct LaneStart {
        CHostServer* Server;
        remote::Lane* Lane;
    };
    struct ServedLane {
        remote::Lane* Lane = nullptr;
        CDoorbell ToHost;
        CDoorbell ToProxy;
    };

    static DWORD WINAPI LaneThread(void* context);
    void ServeLane(remote::Lane* lane);
    int64_t Dispatch(remote::Lane* lane);
    // Waits for the lane's next message from the module; false once the
    // module's process has ended.
    bool AwaitModule(ServedLane* served);

    static thread_local ServedLane Serving;

    CSectionPictureMemory* const Memory;
    CHostedFile* File = nullptr;
    CUniqueHandle Mapping;
    remote::ControlBlock* Block = nullptr;
    // The module's process, a handle the module made in this one: it lasts
    // as long as the helper.
    HANDLE Module = nullptr;
    CSyncEvent QuitEvent{true};
    LaneStart Starts[remote::LaneCount] = {};
};
