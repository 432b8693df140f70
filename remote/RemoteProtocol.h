// The channel between the 64-bit module's media file proxy (CKXFileProxy)
// and its 32-bit helper (KXVDHost.exe), which runs the media file reader over
// the maker's 32-bit library: one control block in a section that both map.
//
// Lanes: each proxy thread that calls the file takes a free lane for the
// call, so calls that may run at once in process (a worker's read beside a
// seek) do so here too; the helper serves every lane on a thread of its own.
// A call: the proxy writes Call and Argument, sets Turn to TurnRequest and
// rings ToHost; the helper answers with Result and TurnReply on ToProxy.
// Inside a picture read the helper asks the proxy to copy the oldest picture
// out of the shared pool (TurnCopy with Picture); the proxy copies it straight
// into the downstream sample and answers TurnCopied with Copied, on ToHost.
// The proxy's read returns then; the helper's reply to it is taken before the
// lane's next call. The rings (Doorbell.h) order every access: nothing in the
// block is read by one side while the other may write it.
//
// The state goes through the lane's Data as the reader answers it
// (MediaFileState.h, the same layout in both widths).
//
// Pictures: the helper's pool buffers lie in picture sections of its own
// (Picture.Section, a handle value in the helper, which the proxy duplicates
// and maps when Generation changes). Sound and the path go through the lane's
// Data.
//
// Handle values in the block belong to the helper's process; the proxy
// duplicates its own handles into the suspended helper before it starts it.
// The layout is the same for both widths: fixed-size fields only.
#pragma once

#include <atomic>
#include <cstdint>

namespace remote {

constexpr uint32_t BlockMagic = 0x4B585648;  // "HVXK"
constexpr uint32_t BlockVersion = 3;
constexpr int LaneCount = 4;
constexpr uint32_t LaneDataBytes = 65536;

enum Call : uint32_t {
    CallOpen = 1,          // Data: path, wide, terminated
    CallClose,
    CallVideoSize,         // Result: width << 32 | height, or -1
    CallDuration,
    CallFrameRate,
    CallPicturePeriod,     // Result: the double's bits
    CallReadVideo,         // Arguments: capacity; copies through TurnCopy
    CallReadAudio,         // Arguments: length; Data: the sound
    CallResume,
    CallStop,
    CallSeek,              // Arguments: ms
    CallState,             // Data: the MediaFileState; Result: 1
    CallVideoDrained,
    CallStride,            // Arguments: pixels
    CallSoundConsumer,     // Arguments: 0 or 1
    CallPictureReader,     // Arguments: 0 or 1
    CallAwaitPictures,     // Data: the MediaFileState after it; Result: 1 when more pictures can come
    CallAwaitSound,        // Data: the MediaFileState after it; Result: 1 when more sound can come
    CallQuit,              // the helper answers, then ends
};

enum Turn : uint32_t {
    TurnIdle = 0,
    TurnRequest,
    TurnCopy,
    TurnCopied,
    TurnReply,
};

// One direction's ring (see Doorbell.h).
struct Bell {
    std::atomic<uint32_t> Rung;
    std::atomic<uint32_t> Sleeping;
};
static_assert(sizeof(Bell) == 8 && std::atomic<uint32_t>::is_always_lock_free, "shared between processes");

// Where the oldest picture lies, for the copy out.
struct PictureView {
    uint64_t Section;      // the helper's handle value of the picture section
    uint64_t SectionBytes;
    uint64_t Offset;       // of the picture in the section
    uint32_t Generation;   // new with every picture section
    int32_t Length;        // bytes of the picture
    int32_t Width;         // pixels per row of the picture
    int32_t Height;
    int32_t Stride;        // pixels per row of the destination
    int32_t Capacity;      // bytes of the destination
    int32_t Remaining;     // pictures queued behind it
    int32_t Padding;
};

struct Lane {
    uint32_t Turn;
    uint32_t Call;
    int64_t Argument;
    int64_t Result;
    PictureView Picture;
    int32_t Copied;        // the proxy's answer to TurnCopy: 1 copied, 0 kept queued
    uint32_t Padding;
    uint64_t ToHost;       // auto-reset events, the helper's handle values
    uint64_t ToProxy;
    Bell ToHostBell;
    Bell ToProxyBell;
    uint8_t Data[LaneDataBytes];
};

struct ControlBlock {
    uint32_t Magic;
    uint32_t Version;
    uint64_t Module;        // the module's process (SYNCHRONIZE), the helper's handle value
    uint64_t Ready;         // event the helper sets once it serves (its handle value)
    uint64_t PictureEvent;  // the helper's file's events, published before Ready
    uint64_t SoundEvent;
    Lane Lanes[LaneCount];
};

static_assert(sizeof(PictureView) == 56, "same layout in both widths");
static_assert(sizeof(Lane) == 120 + LaneDataBytes, "same layout in both widths");

// The helper's command line: KXVDHost.exe <section name>.
constexpr const wchar_t* HostProgram = L"KXVDHost.exe";

}  // namespace remote
