#include "reader/FileInfo.h"

CFileInfo::CFileInfo(DWORD waitMs) : WaitMs(waitMs) {}

void CFileInfo::Reset() {
    InfoReady = 0;
    InfoAwaited = 0;
    InfoReadyEvent.Reset();
}

void CFileInfo::Publish(int32_t totalFrames, uint32_t durationMs) {
    Frames = totalFrames;
    Duration = durationMs;
    InfoReady = 1;
    InfoReadyEvent.Set();
}

bool CFileInfo::AwaitOnce() {
    if (InfoAwaited.load()) return false;
    InfoAwaited = 1;
    return !InfoReady.load() && !InfoReadyEvent.Wait(WaitMs);
}

void CFileInfo::SetAsked(int32_t totalFrames, uint32_t durationMs) {
    if (InfoReady.load()) return;
    Frames = totalFrames;
    Duration = durationMs;
}

void CFileInfo::Forget() {
    Frames = -1;
    Duration = 0;
}
