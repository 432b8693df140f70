// The media file as the source filter uses it: one recording opened through
// the playback library, decoded pictures and sound read out with flow
// control, seeking, and the signals and state the output streams wait on.
//
// Two implementations, chosen when the module is linked (CreateMediaFile):
// the 32-bit module reads in process (CKXFile over VUVezaVID.dll); the 64-bit
// module talks to a 32-bit helper process that runs CKXFile
// (remote/CKXFileProxy). Both keep CKXFile's semantics; the threads that may
// call each operation are CKXFile's (see reader/KXFile.h).
//
// A worker reads first and asks only when its read found nothing: State is a
// snapshot that changes nothing; AwaitPictures / AwaitSound, called before a
// worker waits on its event, may lift a pause and arm the event, answer
// whether more can come and give the state after that, in one call (one
// round trip to the 64-bit module's helper).
#pragma once

#include "common/KXPlayApi.h"
#include "reader/MediaFileState.h"

#include <windows.h>

#include <cstdint>
#include <memory>

class IMediaFile {
public:
    // The sound given out: 8000 Hz mono 16-bit (KX_PCM_RATE), which the
    // audio stream reads in samples of 50 ms.
    static constexpr uint32_t SoundBytesPerSecond = KX_PCM_RATE * 2;
    static constexpr uint32_t SoundSampleBytes = SoundBytesPerSecond / 20;

    virtual ~IMediaFile() = default;

    // Filter's thread.
    virtual bool OpenFile(const wchar_t* path) = 0;
    virtual void CloseFile() = 0;
    // Filter's thread; may wait for the first picture or the file information.
    virtual bool GetVideoSize(int32_t* width, int32_t* height) = 0;
    virtual uint32_t GetDurationMs() = 0;
    virtual int32_t GetFrameRate() = 0;
    // One picture's length in 100-ns units; 0 with no file open.
    virtual double GetPicturePeriod() = 0;

    // Video worker: the oldest picture into rows of the destination stride;
    // false when none is queued or it does not fit.
    virtual bool ReadVideoFrame(uint8_t* destination, int32_t capacity) = 0;
    // Audio worker: exactly length bytes of sound, or nothing (false).
    virtual bool ReadAudio(uint8_t* destination, uint32_t length) = 0;

    // Workers, seeking thread, filter's thread.
    virtual bool ResumeDecoding() = 0;
    virtual void StopDecoding() = 0;
    virtual bool SeekTo(uint32_t ms) = 0;

    // Auto-reset events, one waiter each (the video / the audio worker),
    // signalled whenever a picture / sound may have come or the state changed.
    virtual HANDLE PictureEvent() const = 0;
    virtual HANDLE SoundEvent() const = 0;

    // A snapshot of the state (see MediaFileState.h); changes nothing.
    virtual MediaFileState State() = 0;
    // Video worker, after a read that found no picture and before it waits
    // on PictureEvent: arms the event for the next picture and lifts a
    // back-pressure pause that no read would lift. Whether more pictures
    // can come; the state then goes into state unless it is null.
    virtual bool AwaitPictures(MediaFileState* state) = 0;
    // Audio worker, after a read that found too little (which armed
    // SoundEvent for what it wanted) and before it waits: lifts a pause that
    // only unread pictures made. Whether more sound can come; the state then
    // goes into state unless it is null.
    virtual bool AwaitSound(MediaFileState* state) = 0;

    // What the output streams tell the file.
    virtual void MarkVideoDrained() = 0;
    // Row length, in pixels, of the buffers ReadVideoFrame fills.
    virtual void SetDestinationStride(int32_t pixels) = 0;
    // Whether a sound reader drains the ring (only then may it hold decoding back).
    virtual void SetSoundConsumer(bool reading) = 0;
    // Whether anyone takes the pictures.
    virtual void SetPictureReader(bool reading) = 0;

    // S_OK while the file works; once it has failed for good (the helper of
    // the 64-bit module ended or stopped answering) the failure, which the
    // filter passes on as Load's result or as the streams' abort code.
    virtual HRESULT FaultCode() const { return S_OK; }
};

// The module's media file: in-process in the 32-bit module, the helper's
// proxy in the 64-bit one. Null when memory is exhausted.
std::unique_ptr<IMediaFile> CreateMediaFile();
