#include "DeliveryLog.h"

#include "recording/TestPattern.h"

CDeliveryLog::CDeliveryLog() : Returned(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    InitializeCriticalSection(&Lock);
    InitializeConditionVariable(&Changed);
}

CDeliveryLog::~CDeliveryLog() {
    DeleteCriticalSection(&Lock);
    CloseHandle(Returned);
}

void KX_PLAY_CALL CDeliveryLog::Callback(long, char* data, long length, FrameInfo* info, void* user, long) {
    CDeliveryLog* self = static_cast<CDeliveryLog*>(user);
    self->Active.fetch_add(1);
    if (!self->Allowed.load()) self->Violations.fetch_add(1);
    Delivery d{info->type, info->width, info->height, info->stamp, length, false, 0, 0};
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(data);
    if (d.type == KX_FRAME_YUY2 && d.width > 0 && d.height > 0 &&
        static_cast<int64_t>(d.width) * d.height * 2 == length) {
        kxrec::TestPictureId id{};
        d.whole = kxrec::CheckTestPicture(bytes, d.width, d.height, d.width * 2u, &id);
        d.frame = id.frameNumber;
    } else if (d.type == KX_FRAME_PCM && length > 0) {
        d.whole = kxrec::CheckTone(bytes, static_cast<size_t>(length), &d.firstSample);
    }
    EnterCriticalSection(&self->Lock);
    self->Log.push_back(d);
    if (d.type == KX_FRAME_YUY2) ++self->Pictures;
    if (d.type == KX_FRAME_PCM) self->Samples += static_cast<size_t>(length) / 2;
    WakeAllConditionVariable(&self->Changed);
    LeaveCriticalSection(&self->Lock);
    if (self->Hook) self->Hook(d);
    self->Active.fetch_sub(1);
    SetEvent(self->Returned);
}

std::vector<Delivery> CDeliveryLog::Items() {
    EnterCriticalSection(&Lock);
    std::vector<Delivery> copy = Log;
    LeaveCriticalSection(&Lock);
    return copy;
}

void CDeliveryLog::Clear() {
    EnterCriticalSection(&Lock);
    Log.clear();
    Pictures = 0;
    Samples = 0;
    LeaveCriticalSection(&Lock);
}

bool CDeliveryLog::WaitFor(size_t pictures, size_t samples, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    EnterCriticalSection(&Lock);
    bool reached;
    while (!(reached = Pictures >= pictures && Samples >= samples)) {
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= timeoutMs) break;
        SleepConditionVariableCS(&Changed, &Lock, timeoutMs - elapsed);
    }
    LeaveCriticalSection(&Lock);
    return reached;
}
