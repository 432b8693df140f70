// The audio output pin " Audio ": offers 8 kHz mono 16-bit PCM, asks for four
// downstream buffers, and fills each sample with exactly one twentieth of a
// second of sound (nAvgBytesPerSec / 20 of the connection type,
// IMediaFile::SoundSampleBytes for the proposed type) from the media file's sound ring, stamped 50 ms apart at
// rate 1.0.
//
// A sample never carries bytes of an earlier one, and no sample is made up:
// while sound can still come (decoding runs, or is held back by flow control
// that a reader lifts) the worker waits for a whole sample. The stream ends
// when its own sound is exhausted: AudioFinished (sound used up at the end of
// the file, or no sound at all by the preroll), decoding stopped, or no sound
// for NoDataLimitMs while waiting. When sound was lost because the sound ring
// could not be had, the stream fails with E_OUTOFMEMORY (EC_ERRORABORT).
//
// Threads and locks: see CMediaStream. StreamLock also guards SampleBytes.
#pragma once

#include "filter/MediaStream.h"
#include "reader/IMediaFile.h"

class CAudioStream : public CMediaStream {
public:
    CAudioStream(HRESULT* result, CSrcFilter* filter);
    ~CAudioStream() override;

    HRESULT FillSample(IMediaSample* sample) override;
    HANDLE DataWaitHandle() override;
    HRESULT OnWorkerStart() override;
    // While the worker pushes, the file knows a sound reader drains its ring,
    // so a full ring may hold decoding back.
    HRESULT OnPushStart() override;
    void OnPushEnd(HRESULT reason) override;
    HRESULT OnWorkerStop() override;
    HRESULT VerifyMediaType(const CMediaFormat* type) override;
    HRESULT ProposeMediaType(int position, CMediaFormat* type) override;
    HRESULT SizeAllocator(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;
    HRESULT OnRateChanged() override;

private:
    // Ends the stream: no more sound is read from the file.
    HRESULT EndSound(IMediaFile* file);

    long SampleBytes = IMediaFile::SoundSampleBytes;
};
