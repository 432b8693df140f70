#include "shell/ShellRecording.h"

#include "picture/PictureGrid.h"
#include "picture/Yuy2Converter.h"

#include <vfwmsgs.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

// How long one picture may take after the file is open or moved: the
// filter's own bound for the first picture.
constexpr DWORD PictureWaitMs = 5000;
// Pictures without sound after which a recording counts as silent.
constexpr double SilentSpan = 10000000.0;

}  // namespace

CShellRecording::CShellRecording() = default;

CShellRecording::~CShellRecording() {
    if (File) File->CloseFile();
}

HRESULT CShellRecording::Failure(HRESULT otherwise) const {
    return File && FAILED(File->FaultCode()) ? File->FaultCode() : otherwise;
}

HRESULT CShellRecording::Open(const wchar_t* path) {
    File = CreateMediaFile();
    if (!File) return E_OUTOFMEMORY;
    if (!File->OpenFile(path)) return Failure(E_FAIL);
    if (!File->GetVideoSize(&Known.Width, &Known.Height) || Known.Width <= 0 || Known.Height <= 0) {
        return Failure(E_FAIL);
    }
    Known.DurationMs = File->GetDurationMs();
    if (Known.DurationMs == 0) return Failure(VFW_E_TIMEOUT);
    Known.PicturePeriod = File->GetPicturePeriod();
    if (Known.PicturePeriod <= 0) return Failure(E_FAIL);
    Known.FrameTotal = CPictureGrid(Known.PicturePeriod, Known.DurationMs).FrameTotal();
    // Pictures are read packed, whatever a filter's downstream would want.
    File->SetDestinationStride(Known.Width);
    File->SetPictureReader(true);
    File->SetSoundConsumer(false);
    return S_OK;
}

MediaFileState CShellRecording::WaitForPicture(DWORD deadline) {
    for (;;) {
        MediaFileState state;
        const bool more = File->AwaitPictures(&state);
        const DWORD now = GetTickCount();
        if (state.QueuedPictures > 0 || !more || FAILED(File->FaultCode()) ||
            static_cast<LONG>(deadline - now) <= 0) {
            return state;
        }
        WaitForSingleObject(File->PictureEvent(), deadline - now);
    }
}

HRESULT CShellRecording::ReadPicture(int64_t n, BgrImage* image) {
    const CPictureGrid grid(Known.PicturePeriod, Known.DurationMs);
    n = std::max<int64_t>(0, std::min(n, Known.FrameTotal - 1));
    if (n > 0 && !File->SeekTo(grid.LibraryMs(grid.StartOf(n)))) return Failure(HRESULT_FROM_WIN32(ERROR_SEEK));
    const MediaFileState state = WaitForPicture(GetTickCount() + PictureWaitMs);
    if (state.QueuedPictures == 0) return Failure(state.OutOfMemory ? E_OUTOFMEMORY : VFW_E_TIMEOUT);
    const size_t bytes = static_cast<size_t>(Known.Width) * static_cast<size_t>(Known.Height) * 2;
    std::vector<uint8_t> picture(bytes);
    if (!File->ReadVideoFrame(picture.data(), static_cast<int32_t>(bytes))) return Failure(E_FAIL);
    *image = CYuy2Converter::Convert(picture.data(), Known.Width, Known.Height, static_cast<size_t>(Known.Width) * 2);
    return S_OK;
}

uint32_t CShellRecording::FramesPerKilosecond(int64_t frameTotal, uint32_t durationMs) {
    if (frameTotal <= 0 || durationMs == 0) return 0;
    const double frames = static_cast<double>(frameTotal) * 1e6;
    const double exact = frames / durationMs;
    const double lowest = frames / (static_cast<double>(durationMs) + 1.0);
    const double highest = durationMs > 1 ? frames / (static_cast<double>(durationMs) - 1.0) : exact;
    for (const double step : {1000.0, 500.0, 250.0, 100.0, 10.0, 1.0}) {
        const double candidate = std::round(exact / step) * step;
        if (candidate >= lowest && candidate <= highest) return static_cast<uint32_t>(candidate);
    }
    return static_cast<uint32_t>(std::llround(exact));
}

HRESULT CShellRecording::ProbeSound() {
    const size_t bytes = static_cast<size_t>(Known.Width) * static_cast<size_t>(Known.Height) * 2;
    std::vector<uint8_t> scratch(bytes);
    const int64_t span = std::max<int64_t>(1, static_cast<int64_t>(SilentSpan / Known.PicturePeriod));
    for (int64_t read = 0; read <= span; ++read) {
        const MediaFileState state = WaitForPicture(GetTickCount() + PictureWaitMs);
        if (state.AudioStarted) {
            Known.HasSound = true;
            return S_OK;
        }
        if (state.QueuedPictures == 0) return Failure(S_OK);
        if (!File->ReadVideoFrame(scratch.data(), static_cast<int32_t>(bytes))) return Failure(E_FAIL);
    }
    return S_OK;
}
