#include "remote/HostServer.h"

#include "remote/HostedFile.h"
#include "remote/SectionPictureMemory.h"

#include <cstring>

namespace {

HANDLE Handle(uint64_t value) { return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(value)); }

uint64_t Value(HANDLE handle) { return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(handle)); }

}  // namespace

thread_local CHostServer::ServedLane CHostServer::Serving;

CHostServer::CHostServer(CSectionPictureMemory* memory) : Memory(memory) {}

CHostServer::~CHostServer() {
    if (Block) UnmapViewOfFile(Block);
}

bool CHostServer::Attach(const wchar_t* sectionName) {
    Mapping.Reset(OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, sectionName));
    if (!Mapping) return false;
    Block = static_cast<remote::ControlBlock*>(
        MapViewOfFile(Mapping.Get(), FILE_MAP_ALL_ACCESS, 0, 0, sizeof(remote::ControlBlock)));
    if (!Block || Block->Magic != remote::BlockMagic || Block->Version != remote::BlockVersion) return false;
    Module = Handle(Block->Module);
    return QuitEvent.Handle() != nullptr;
}

int CHostServer::Serve(CHostedFile* file) {
    File = file;
    Block->PictureEvent = Value(file->PictureEvent());
    Block->SoundEvent = Value(file->SoundEvent());
    CUniqueHandle threads[remote::LaneCount];
    int started = 0;
    for (; started < remote::LaneCount; ++started) {
        Starts[started] = LaneStart{this, &Block->Lanes[started]};
        threads[started].Reset(CreateThread(nullptr, 0, &CHostServer::LaneThread, &Starts[started], 0, nullptr));
        if (!threads[started]) break;
    }
    int code = 4;
    if (started == remote::LaneCount) {
        SetEvent(Handle(Block->Ready));
        HANDLE ends[2] = {QuitEvent.Handle(), Module};
        code = WaitForMultipleObjects(2, ends, FALSE, INFINITE) == WAIT_OBJECT_0 ? 0 : 3;
    }
    // The lanes are idle after a quit; after the module's end one may still
    // be inside the file, and the process ends around it.
    if (code == 0) File->CloseFile();
    return code;
}

DWORD WINAPI CHostServer::LaneThread(void* context) {
    const LaneStart* start = static_cast<const LaneStart*>(context);
    start->Server->ServeLane(start->Lane);
    return 0;
}

void CHostServer::ServeLane(remote::Lane* lane) {
    Serving.Lane = lane;
    Serving.ToHost = CDoorbell(&lane->ToHostBell, Handle(lane->ToHost));
    Serving.ToProxy = CDoorbell(&lane->ToProxyBell, Handle(lane->ToProxy));
    while (AwaitModule(&Serving)) {
        if (lane->Turn != remote::TurnRequest) continue;
        const uint32_t call = lane->Call;
        lane->Result = Dispatch(lane);
        lane->Turn = remote::TurnReply;
        Serving.ToProxy.Ring();
        if (call == remote::CallQuit) {
            QuitEvent.Set();
            return;
        }
    }
    // The module's process has ended: so does the helper.
    QuitEvent.Set();
}

int64_t CHostServer::Dispatch(remote::Lane* lane) {
    CHostedFile& file = *File;
    switch (lane->Call) {
    case remote::CallOpen: {
        wchar_t* path = reinterpret_cast<wchar_t*>(lane->Data);
        path[remote::LaneDataBytes / sizeof(wchar_t) - 1] = L'\0';
        return file.OpenFile(path) ? 1 : 0;
    }
    case remote::CallClose:
        file.CloseFile();
        return 0;
    case remote::CallVideoSize: {
        int32_t width = 0, height = 0;
        if (!file.GetVideoSize(&width, &height)) return -1;
        return static_cast<int64_t>(static_cast<uint64_t>(static_cast<uint32_t>(width)) << 32 |
                                    static_cast<uint32_t>(height));
    }
    case remote::CallDuration:
        return file.GetDurationMs();
    case remote::CallFrameRate:
        return file.GetFrameRate();
    case remote::CallPicturePeriod: {
        const double period = file.GetPicturePeriod();
        int64_t bits = 0;
        std::memcpy(&bits, &period, sizeof(bits));
        return bits;
    }
    case remote::CallReadVideo:
        // The destination is the module's: the copy out goes through the lane.
        return file.ReadVideoFrame(lane->Data, static_cast<int32_t>(lane->Argument)) ? 1 : 0;
    case remote::CallReadAudio:
        if (lane->Argument < 0 || lane->Argument > remote::LaneDataBytes) return 0;
        return file.ReadAudio(lane->Data, static_cast<uint32_t>(lane->Argument)) ? 1 : 0;
    case remote::CallResume:
        return file.ResumeDecoding() ? 1 : 0;
    case remote::CallStop:
        file.StopDecoding();
        return 0;
    case remote::CallSeek:
        return file.SeekTo(static_cast<uint32_t>(lane->Argument)) ? 1 : 0;
    case remote::CallState: {
        const MediaFileState state = file.State();
        static_assert(sizeof(state) <= remote::LaneDataBytes, "the state fits the lane");
        std::memcpy(lane->Data, &state, sizeof(state));
        return 1;
    }
    case remote::CallAwaitPictures:
    case remote::CallAwaitSound: {
        MediaFileState state;
        const bool more = lane->Call == remote::CallAwaitPictures ? file.AwaitPictures(&state) : file.AwaitSound(&state);
        std::memcpy(lane->Data, &state, sizeof(state));
        return more ? 1 : 0;
    }
    case remote::CallVideoDrained:
        file.MarkVideoDrained();
        return 0;
    case remote::CallStride:
        file.SetDestinationStride(static_cast<int32_t>(lane->Argument));
        return 0;
    case remote::CallSoundConsumer:
        file.SetSoundConsumer(lane->Argument != 0);
        return 0;
    case remote::CallPictureReader:
        file.SetPictureReader(lane->Argument != 0);
        return 0;
    default:
        return 0;
    }
}

bool CHostServer::CopyOutThroughLane(const uint8_t* picture, int32_t length, int32_t width, int32_t height,
                                     int32_t stride, int32_t capacity, int32_t remaining) {
    remote::Lane* lane = Serving.Lane;
    if (!lane) return false;
    HANDLE section = nullptr;
    remote::PictureView& view = lane->Picture;
    if (!Memory->Locate(picture, &section, &view.SectionBytes, &view.Generation, &view.Offset)) return false;
    view.Section = Value(section);
    view.Length = length;
    view.Width = width;
    view.Height = height;
    view.Stride = stride;
    view.Capacity = capacity;
    view.Remaining = remaining;
    lane->Copied = 0;
    lane->Turn = remote::TurnCopy;
    Serving.ToProxy.Ring();
    while (AwaitModule(&Serving)) {
        if (lane->Turn == remote::TurnCopied) return lane->Copied != 0;
    }
    return false;
}

bool CHostServer::AwaitModule(ServedLane* served) {
    return served->ToHost.Wait(Module, INFINITE) == CDoorbell::Rung;
}
