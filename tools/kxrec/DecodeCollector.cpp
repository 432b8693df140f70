#include "tools/kxrec/DecodeCollector.h"

#include "recording/TestPattern.h"

namespace kxrec {

CDecodeCollector::CDecodeCollector() {
    InitializeCriticalSection(&Lock);
}

CDecodeCollector::~CDecodeCollector() {
    DeleteCriticalSection(&Lock);
}

void KX_PLAY_CALL CDecodeCollector::Callback(long, char* data, long length, FrameInfo* info, void* user, long) {
    static_cast<CDecodeCollector*>(user)->Take(reinterpret_cast<const uint8_t*>(data), length, *info);
}

DecodeReport CDecodeCollector::Snapshot() {
    EnterCriticalSection(&Lock);
    DecodeReport copy = Report;
    LeaveCriticalSection(&Lock);
    return copy;
}

void CDecodeCollector::Take(const uint8_t* data, long length, const FrameInfo& info) {
    EnterCriticalSection(&Lock);
    if (info.type == KX_FRAME_YUY2) TakePicture(data, length, info);
    if (info.type == KX_FRAME_PCM) TakeSound(data, length);
    LeaveCriticalSection(&Lock);
}

void CDecodeCollector::TakePicture(const uint8_t* data, long length, const FrameInfo& info) {
    ++Report.pictures;
    const std::pair<int32_t, int32_t> size{info.width, info.height};
    if (Report.sizeRuns.empty() || Report.sizeRuns.back().first != size) {
        Report.sizeRuns.push_back({size, 0});
    }
    ++Report.sizeRuns.back().second;
    TestPictureId id{};
    if (info.width <= 0 || info.height <= 0 ||
        static_cast<int64_t>(info.width) * info.height * 2 != length ||
        !CheckTestPicture(data, info.width, info.height, info.width * 2u, &id)) {
        return;
    }
    if (Report.testPictures != 0 && id.frameNumber != LastFrame + 1) Report.testPicturesInOrder = false;
    LastFrame = id.frameNumber;
    ++Report.testPictures;
}

void CDecodeCollector::TakeSound(const uint8_t* data, long length) {
    ++Report.soundPieces;
    Report.soundBytes += static_cast<uint64_t>(length);
    uint32_t first = 0;
    if (length <= 0 || !CheckTone(data, static_cast<size_t>(length), &first)) return;
    if (Report.tonePieces == 0) {
        Report.firstToneSample = first;
    } else if (first != NextSample) {
        Report.toneContiguous = false;
    }
    NextSample = first + static_cast<uint32_t>(length / 2);
    ++Report.tonePieces;
}

}  // namespace kxrec
