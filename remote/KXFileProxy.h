// The 64-bit module's media file: a proxy to one helper process per file
// (CHelperProcess), which runs the reader over the maker's 32-bit library.
// Every operation is one call to the helper, so the reader's semantics hold
// unchanged; the waitable events are the helper's own, duplicated, so a
// worker wakes exactly when it would in process; a picture is copied once,
// from the helper's pool straight into the destination.
//
// One helper per file: a fault of the maker's library (a crash, a hang) ends
// that file's helper and that file's streams only. The helper starts at the
// first OpenFile; until then, and after a fault, every operation answers as a
// closed file does and FaultCode tells why.
//
// The state is one call (the reader's MediaFileState through the lane), and
// so are AwaitPictures and AwaitSound: the helper's reader lifts its pause
// and arms its event there. A worker reads first and asks only after a read
// that found nothing, so a picture costs one call.
//
// Threads: those of IMediaFile. Owns the helper; StartFault is written by
// OpenFile on the filter's thread before any worker exists.
#pragma once

#include "reader/IMediaFile.h"
#include "remote/HelperProcess.h"

class CKXFileProxy : public IMediaFile {
public:
    CKXFileProxy() = default;
    ~CKXFileProxy() override = default;
    CKXFileProxy(const CKXFileProxy&) = delete;
    CKXFileProxy& operator=(const CKXFileProxy&) = delete;

    bool OpenFile(const wchar_t* path) override;
    void CloseFile() override;
    bool GetVideoSize(int32_t* width, int32_t* height) override;
    uint32_t GetDurationMs() override;
    int32_t GetFrameRate() override;
    double GetPicturePeriod() override;
    bool ReadVideoFrame(uint8_t* destination, int32_t capacity) override;
    bool ReadAudio(uint8_t* destination, uint32_t length) override;
    bool ResumeDecoding() override;
    void StopDecoding() override;
    bool SeekTo(uint32_t ms) override;
    HANDLE PictureEvent() const override { return Helper.PictureEvent(); }
    HANDLE SoundEvent() const override { return Helper.SoundEvent(); }
    MediaFileState State() override;
    bool AwaitPictures(MediaFileState* state) override;
    bool AwaitSound(MediaFileState* state) override;

    void MarkVideoDrained() override;
    void SetDestinationStride(int32_t pixels) override;
    void SetSoundConsumer(bool reading) override;
    void SetPictureReader(bool reading) override;
    HRESULT FaultCode() const override;

private:
    // CallAwaitPictures or CallAwaitSound: its answer, and the state after it.
    bool Await(remote::Call call, MediaFileState* state);

    CHelperProcess Helper;
    HRESULT StartFault = S_OK;
    bool Started = false;
};
