#include "remote/KXFileProxy.h"

#include <cstring>
#include <cwchar>

bool CKXFileProxy::OpenFile(const wchar_t* path) {
    if (!path) return false;
    if (!Started) {
        Started = true;
        StartFault = Helper.Start();
        if (FAILED(StartFault)) return false;
    }
    const size_t bytes = (std::wcslen(path) + 1) * sizeof(wchar_t);
    if (bytes > remote::LaneDataBytes) return false;
    return Helper.Call(remote::CallOpen, 0, 0, const_cast<wchar_t*>(path), static_cast<uint32_t>(bytes)) != 0;
}

void CKXFileProxy::CloseFile() {
    Helper.Call(remote::CallClose, 0, 0);
}

bool CKXFileProxy::GetVideoSize(int32_t* width, int32_t* height) {
    if (!width || !height) return false;
    const int64_t size = Helper.Call(remote::CallVideoSize, 0, -1);
    if (size < 0) {
        *width = 0;
        *height = 0;
        return false;
    }
    *width = static_cast<int32_t>(size >> 32);
    *height = static_cast<int32_t>(size & 0xFFFFFFFF);
    return true;
}

uint32_t CKXFileProxy::GetDurationMs() { return static_cast<uint32_t>(Helper.Call(remote::CallDuration, 0, 0)); }

int32_t CKXFileProxy::GetFrameRate() { return static_cast<int32_t>(Helper.Call(remote::CallFrameRate, 0, 0)); }

double CKXFileProxy::GetPicturePeriod() {
    const int64_t bits = Helper.Call(remote::CallPicturePeriod, 0, 0);
    double period = 0;
    std::memcpy(&period, &bits, sizeof(period));
    return period;
}

bool CKXFileProxy::ReadVideoFrame(uint8_t* destination, int32_t capacity) {
    return destination && Helper.Call(remote::CallReadVideo, capacity, 0, destination) > 0;
}

bool CKXFileProxy::ReadAudio(uint8_t* destination, uint32_t length) {
    if (!destination || length > remote::LaneDataBytes) return false;
    return Helper.Call(remote::CallReadAudio, length, 0, destination) != 0;
}

bool CKXFileProxy::ResumeDecoding() { return Helper.Call(remote::CallResume, 0, 0) != 0; }

void CKXFileProxy::StopDecoding() { Helper.Call(remote::CallStop, 0, 0); }

bool CKXFileProxy::SeekTo(uint32_t ms) {
    return Helper.Call(remote::CallSeek, ms, 0) != 0;
}

MediaFileState CKXFileProxy::State() {
    MediaFileState state;
    MediaFileState answer;
    if (Helper.Call(remote::CallState, 0, 0, &answer, sizeof(answer)) != 0) state = answer;
    return state;
}

bool CKXFileProxy::AwaitPictures(MediaFileState* state) { return Await(remote::CallAwaitPictures, state); }

bool CKXFileProxy::AwaitSound(MediaFileState* state) { return Await(remote::CallAwaitSound, state); }

bool CKXFileProxy::Await(remote::Call call, MediaFileState* state) {
    // A failed helper answers nothing: the state of a closed file stays.
    MediaFileState answer;
    const bool more = Helper.Call(call, 0, 0, &answer, sizeof(answer)) != 0;
    if (state) *state = answer;
    return more;
}

void CKXFileProxy::MarkVideoDrained() { Helper.Call(remote::CallVideoDrained, 0, 0); }

void CKXFileProxy::SetDestinationStride(int32_t pixels) { Helper.Call(remote::CallStride, pixels, 0); }

void CKXFileProxy::SetSoundConsumer(bool reading) { Helper.Call(remote::CallSoundConsumer, reading ? 1 : 0, 0); }

void CKXFileProxy::SetPictureReader(bool reading) {
    Helper.Call(remote::CallPictureReader, reading ? 1 : 0, 0);
}

HRESULT CKXFileProxy::FaultCode() const { return FAILED(StartFault) ? StartFault : Helper.Fault(); }

