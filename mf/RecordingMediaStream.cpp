#include "mf/RecordingMediaStream.h"

#include "framework/ScopedLock.h"
#include "mf/RecordingMediaSource.h"

#include <mfapi.h>
#include <mferror.h>

#include <cmath>

using Microsoft::WRL::ComPtr;

CRecordingMediaStream::CRecordingMediaStream(CRecordingMediaSource* source, IMFStreamDescriptor* descriptor,
                                             Kind kind, double period, DWORD sampleBytes, HRESULT* result)
    : CUnknown("Recording media stream", nullptr),
      What(kind),
      Period(period),
      SampleBytes(sampleBytes),
      Source(source),
      Owner(source),
      Descriptor(descriptor) {
    *result = MFCreateEventQueue(&Events);
}

CRecordingMediaStream::~CRecordingMediaStream() = default;

HRESULT STDMETHODCALLTYPE CRecordingMediaStream::InnerQueryInterface(REFIID id, void** out) {
    if (!out) return E_POINTER;
    if (IsEqualIID(id, IID_IMFMediaStream) || IsEqualIID(id, IID_IMFMediaEventGenerator)) {
        return HandOutInterface(static_cast<IMFMediaStream*>(this), out);
    }
    return CUnknown::InnerQueryInterface(id, out);
}

// The queue itself answers MF_E_SHUTDOWN once Close has shut it down.
HRESULT STDMETHODCALLTYPE CRecordingMediaStream::GetEvent(DWORD flags, IMFMediaEvent** event) {
    return Events->GetEvent(flags, event);
}

HRESULT STDMETHODCALLTYPE CRecordingMediaStream::BeginGetEvent(IMFAsyncCallback* callback, IUnknown* state) {
    return Events->BeginGetEvent(callback, state);
}

HRESULT STDMETHODCALLTYPE CRecordingMediaStream::EndGetEvent(IMFAsyncResult* result, IMFMediaEvent** event) {
    return Events->EndGetEvent(result, event);
}

HRESULT STDMETHODCALLTYPE CRecordingMediaStream::QueueEvent(MediaEventType type, REFGUID extendedType,
                                                            HRESULT status, const PROPVARIANT* value) {
    return Events->QueueEventParamVar(type, extendedType, status, value);
}

HRESULT STDMETHODCALLTYPE CRecordingMediaStream::GetMediaSource(IMFMediaSource** source) {
    if (!source) return E_POINTER;
    *source = nullptr;
    CScopedLock hold(Owner->Lock());
    if (Owner->ShutDown()) return MF_E_SHUTDOWN;
    return Source.CopyTo(source);
}

HRESULT STDMETHODCALLTYPE CRecordingMediaStream::GetStreamDescriptor(IMFStreamDescriptor** descriptor) {
    if (!descriptor) return E_POINTER;
    *descriptor = nullptr;
    CScopedLock hold(Owner->Lock());
    if (Owner->ShutDown()) return MF_E_SHUTDOWN;
    return Descriptor.CopyTo(descriptor);
}

HRESULT STDMETHODCALLTYPE CRecordingMediaStream::RequestSample(IUnknown* token) {
    CScopedLock hold(Owner->Lock());
    if (Owner->ShutDown()) return MF_E_SHUTDOWN;
    if (Owner->Stopped() || !Active) return MF_E_MEDIA_SOURCE_WRONGSTATE;
    if (EndSent) return MF_E_END_OF_STREAM;
    Requests.emplace_back(token);
    // Answered from the delivery thread: Wine's source reader started twice
    // when samples came from inside this call.
    Owner->WakeDelivery();
    return S_OK;
}

void CRecordingMediaStream::BeginSegment(REFERENCE_TIME start, bool atEnd) {
    SegmentStart = start;
    SamplesInSegment = 0;
    NoDataSince = 0;
    Held.Reset();
    EndDecided = atEnd;
    EndSent = false;
    Failed = false;
}

ComPtr<IUnknown> CRecordingMediaStream::TakeRequest() {
    ComPtr<IUnknown> token = std::move(Requests.front());
    Requests.pop_front();
    return token;
}

void CRecordingMediaStream::SendSample(IMFSample* sample) {
    const ComPtr<IUnknown> token = TakeRequest();
    if (token) sample->SetUnknown(MFSampleExtension_Token, token.Get());
    Events->QueueEventParamUnk(MEMediaSample, GUID_NULL, S_OK, sample);
}

void CRecordingMediaStream::SendEnd() {
    // Sent in answer to the first request after the last sample: queued
    // right behind the last sample, Wine's media session missed it and never
    // ended the presentation.
    TakeRequest();
    EndSent = true;
    Events->QueueEventParamVar(MEEndOfStream, GUID_NULL, S_OK, nullptr);
}

void CRecordingMediaStream::SendError(HRESULT error) {
    Failed = true;
    Events->QueueEventParamVar(MEError, GUID_NULL, error, nullptr);
}

void CRecordingMediaStream::Close() {
    Events->Shutdown();
    CScopedLock hold(Owner->Lock());
    Requests.clear();
}

CRecordingMediaStream::Take CRecordingMediaStream::TakeNext(IMediaFile* file, IMFSample** sample, HRESULT* error) {
    ComPtr<IMFMediaBuffer> buffer;
    *error = FreeBuffer(&buffer);
    if (FAILED(*error)) return Take::Fail;
    const Take taken = What == Kind::Pictures ? TakePicture(file, buffer.Get(), error)
                                              : TakeSound(file, buffer.Get(), error);
    // Like the sound pin, an ended sound stream no longer holds decoding back.
    if (taken == Take::End && What == Kind::Sound) file->SetSoundConsumer(false);
    if (taken != Take::Sample) return taken;
    NoDataSince = 0;
    ComPtr<IMFSample> made;
    *error = MFCreateSample(&made);
    if (SUCCEEDED(*error)) *error = buffer->SetCurrentLength(SampleBytes);
    if (SUCCEEDED(*error)) *error = made->AddBuffer(buffer.Get());
    if (SUCCEEDED(*error)) *error = Stamp(made.Get());
    if (FAILED(*error)) return Take::Fail;
    *sample = made.Detach();
    return Take::Sample;
}

// The end decisions mirror the video pin's FillSample (filter/VideoStream.cpp):
// read first, and ask only when a read found nothing.
CRecordingMediaStream::Take CRecordingMediaStream::TakePicture(IMediaFile* file, IMFMediaBuffer* buffer,
                                                               HRESULT* error) {
    BYTE* data = nullptr;
    DWORD capacity = 0;
    *error = buffer->Lock(&data, &capacity, nullptr);
    if (FAILED(*error)) return Take::Fail;
    MediaFileState state;
    bool more = false;
    bool read = false;
    for (int reads = 0; reads < 2 && !read; ++reads) {
        read = file->ReadVideoFrame(data, static_cast<int32_t>(capacity));
        if (read || FAILED(file->FaultCode())) break;
        more = file->AwaitPictures(&state);
        // None queued: wait for one. Queued: it came after the read, or it
        // does not fit the buffer, which a second read tells.
        if (state.QueuedPictures == 0) break;
    }
    buffer->Unlock();
    if (read) return Take::Sample;
    *error = file->FaultCode();
    if (FAILED(*error)) return Take::Fail;
    // Too large for the buffer: the stream ends.
    if (state.QueuedPictures > 0) return Take::End;
    if (state.OutOfMemory) {
        *error = E_OUTOFMEMORY;
        return Take::Fail;
    }
    if (more && !NoDataForTooLong()) return Take::Wait;
    file->MarkVideoDrained();
    return Take::End;
}

// The end decisions are the audio pin's (filter/AudioStream.cpp), taken in
// another order: the pin looks at the state before every read, this stream
// only after a read that found nothing, which saves the 64-bit module a
// crossing to its helper per piece. The decisions fall at the same read:
// the sound is marked finished only by a read that found nothing, and sound
// lost for want of memory leaves no ring to read from.
CRecordingMediaStream::Take CRecordingMediaStream::TakeSound(IMediaFile* file, IMFMediaBuffer* buffer,
                                                             HRESULT* error) {
    BYTE* data = nullptr;
    *error = buffer->Lock(&data, nullptr, nullptr);
    if (FAILED(*error)) return Take::Fail;
    const bool read = file->ReadAudio(data, SampleBytes);
    buffer->Unlock();
    if (read) return Take::Sample;
    *error = file->FaultCode();
    if (FAILED(*error)) return Take::Fail;
    MediaFileState now;
    const bool more = file->AwaitSound(&now);
    if (now.SoundOutOfMemory) {
        *error = E_OUTOFMEMORY;
        return Take::Fail;
    }
    if (now.AudioFinished || !more || NoDataForTooLong()) return Take::End;
    return Take::Wait;
}

HRESULT CRecordingMediaStream::FreeBuffer(IMFMediaBuffer** buffer) {
    for (const ComPtr<IMFMediaBuffer>& kept : Pool) {
        // Only the pool's own reference left: every sample that carried it
        // has gone.
        kept->AddRef();
        if (kept->Release() == 1) return kept.CopyTo(buffer);
    }
    ComPtr<IMFMediaBuffer> made;
    const HRESULT hr = MFCreateMemoryBuffer(SampleBytes, &made);
    if (FAILED(hr)) return hr;
    if (Pool.size() < PoolBuffers) Pool.push_back(made);
    *buffer = made.Detach();
    return S_OK;
}

bool CRecordingMediaStream::NoDataForTooLong() {
    const DWORD now = GetTickCount();
    if (NoDataSince == 0) {
        NoDataSince = now ? now : 1;
        return false;
    }
    return now - NoDataSince >= NoDataLimitMs;
}

HRESULT CRecordingMediaStream::Stamp(IMFSample* sample) {
    const REFERENCE_TIME start = SegmentStart + std::llround(static_cast<double>(SamplesInSegment) * Period);
    ++SamplesInSegment;
    const REFERENCE_TIME next = SegmentStart + std::llround(static_cast<double>(SamplesInSegment) * Period);
    HRESULT hr = sample->SetSampleTime(start);
    if (SUCCEEDED(hr)) hr = sample->SetSampleDuration(next - start);
    if (SUCCEEDED(hr)) hr = sample->SetUINT32(MFSampleExtension_CleanPoint, TRUE);
    if (SUCCEEDED(hr) && SamplesInSegment == 1) hr = sample->SetUINT32(MFSampleExtension_Discontinuity, TRUE);
    return hr;
}
