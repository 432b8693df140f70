// One recording as the Explorer handlers read it: opened through the
// module's media file (in process in the 32-bit module, in the helper in the
// 64-bit one), its facts, one picture found on the picture grid, and whether
// it has sound. Reads nothing the file does not give within its own bounds.
//
// Owned and used by one thread, a bounded worker of the handler
// (CBoundedWork); takes no lock.
#pragma once

#include "picture/BgrImage.h"
#include "reader/IMediaFile.h"

#include <windows.h>

#include <cstdint>
#include <memory>

struct RecordingFacts {
    int32_t Width = 0;
    int32_t Height = 0;
    uint32_t DurationMs = 0;
    // One picture in 100-ns units.
    double PicturePeriod = 0;
    int64_t FrameTotal = 0;
    bool HasSound = false;
};

class CShellRecording {
public:
    CShellRecording();
    ~CShellRecording();
    CShellRecording(const CShellRecording&) = delete;
    CShellRecording& operator=(const CShellRecording&) = delete;

    // Opens path and learns the size, the duration and the picture period,
    // as the source filter's Load does; the file's failure code when it
    // failed for good (the helper), else E_FAIL for a refused file.
    HRESULT Open(const wchar_t* path);
    const RecordingFacts& Facts() const { return Known; }

    // Picture n (clamped to the recording), converted to BGR.
    HRESULT ReadPicture(int64_t n, BgrImage* image);
    // The picture a thumbnail shows: a tenth of the way in, the first one of
    // a recording under ten pictures.
    static int64_t ThumbnailPicture(int64_t frameTotal) { return frameTotal < 10 ? 0 : frameTotal / 10; }

    // The frame rate in pictures per 1000 s from the library's frame total
    // and whole-millisecond duration: the roundest rate (whole, halves,
    // quarters, tenths, ...) that the total over a duration within a
    // millisecond of the reported one gives, so 30 pictures in 3999 ms are
    // 7500 (7.5 a second), not 7502.
    static uint32_t FramesPerKilosecond(int64_t frameTotal, uint32_t durationMs);

    // Reads pictures from the start until sound has come or a second of
    // pictures went by without any (or the file ended); sets Facts().HasSound.
    HRESULT ProbeSound();

private:
    // The one place that asks the file's state and waits on its picture
    // event: until a picture is queued or none can come, or until deadline
    // (a tick count). The state last seen.
    MediaFileState WaitForPicture(DWORD deadline);
    HRESULT Failure(HRESULT otherwise) const;

    std::unique_ptr<IMediaFile> File;
    RecordingFacts Known;
};
