#include "filter/AudioStream.h"

#include "filter/SrcFilter.h"
#include "filter/VideoStream.h"
#include "framework/ScopedLock.h"

#include <mmreg.h>
#include <uuids.h>
#include <vfwmsgs.h>

#include <cstddef>
#include <cstring>

namespace {

// nSamplesPerSec and nAvgBytesPerSec must both be inside the block.
constexpr ULONG WaveFieldsEnd = offsetof(WAVEFORMATEX, nAvgBytesPerSec) + sizeof(DWORD);
// Each sample carries a twentieth of a second.
constexpr uint32_t SamplesPerSecond = IMediaFile::SoundBytesPerSecond / IMediaFile::SoundSampleBytes;
constexpr double SoundSamplePeriod = 10000000.0 / SamplesPerSecond;

}  // namespace

CAudioStream::CAudioStream(HRESULT* result, CSrcFilter* filter)
    : CMediaStream(result, filter, L" Audio ", SoundSamplePeriod) {
    CScopedLock hold(&StreamLock);
    ClearNextSample = 1;
}

CAudioStream::~CAudioStream() = default;

HRESULT CAudioStream::VerifyMediaType(const CMediaFormat* type) {
    CScopedLock hold(PinLock);
    if (!IsEqualGUID(type->majortype, MEDIATYPE_Audio) || !type->pbFormat || type->cbFormat < WaveFieldsEnd) {
        return E_INVALIDARG;
    }
    return reinterpret_cast<const WAVEFORMATEX*>(type->pbFormat)->nSamplesPerSec == KX_PCM_RATE ? S_OK : E_INVALIDARG;
}

HRESULT CAudioStream::ProposeMediaType(int position, CMediaFormat* type) {
    CScopedLock hold(PinLock);
    if (position < 0) return E_INVALIDARG;
    if (position > 0) return VFW_S_NO_MORE_ITEMS;
    type->AssignFrom(SrcFilter->AudioMediaType());
    return S_OK;
}

HRESULT CAudioStream::SizeAllocator(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) {
    CScopedLock hold(PinLock);
    if (!ConnectionType.pbFormat || ConnectionType.cbFormat < WaveFieldsEnd) return E_FAIL;
    const long bytes =
        static_cast<long>(reinterpret_cast<const WAVEFORMATEX*>(ConnectionType.pbFormat)->nAvgBytesPerSec / SamplesPerSecond);
    request->cBuffers = 4;
    request->cbBuffer = bytes;
    ALLOCATOR_PROPERTIES actual = {};
    const HRESULT hr = allocator->SetProperties(request, &actual);
    if (FAILED(hr)) return hr;
    if (actual.cbBuffer < request->cbBuffer || actual.cBuffers != 4) return E_FAIL;
    CScopedLock holdStream(&StreamLock);
    SampleBytes = bytes;
    return S_OK;
}

HRESULT CAudioStream::OnWorkerStart() {
    CScopedLock hold(&StreamLock);
    RestartClock();
    ClearNextSample = 1;
    // The video stream restarts decoding when its worker starts; without it
    // (a graph that takes only the sound) nothing else would after a stop.
    const CVideoStream* video = SrcFilter->Video();
    IMediaFile* file = SrcFilter->File();
    if (file && !(video && video->IsConnected())) file->ResumeDecoding();
    return S_OK;
}

HRESULT CAudioStream::OnPushStart() {
    const HRESULT hr = CMediaStream::OnPushStart();
    if (IMediaFile* file = SrcFilter->File()) file->SetSoundConsumer(true);
    return hr;
}

void CAudioStream::OnPushEnd(HRESULT reason) {
    IMediaFile* file = SrcFilter->File();
    if (file && StoppedReading(reason)) file->SetSoundConsumer(false);
}

HRESULT CAudioStream::OnWorkerStop() {
    if (IMediaFile* file = SrcFilter->File()) file->SetSoundConsumer(false);
    return CMediaStream::OnWorkerStop();
}

HRESULT CAudioStream::EndSound(IMediaFile* file) {
    if (file) file->SetSoundConsumer(false);
    return S_FALSE;
}

HANDLE CAudioStream::DataWaitHandle() {
    IMediaFile* file = SrcFilter->File();
    return file ? file->SoundEvent() : nullptr;
}

HRESULT CAudioStream::FillSample(IMediaSample* sample) {
    CScopedLock hold(&StreamLock);
    IMediaFile* file = SrcFilter->File();
    if (!file) return EndSound(file);
    const MediaFileState state = file->State();
    // Sound was lost for want of memory: the graph hears of it
    // (EC_ERRORABORT) rather than of an end with a gap before it.
    if (state.SoundOutOfMemory) return E_OUTOFMEMORY;
    if (state.AudioFinished) return EndSound(file);
    if (HoldForOwnSeek()) return S_NODATAYET;

    BYTE* buffer = nullptr;
    sample->GetPointer(&buffer);
    const long size = sample->GetSize();
    if (size < SampleBytes) return EndSound(file);
    if (!file->ReadAudio(buffer, static_cast<uint32_t>(SampleBytes))) {
        // The graph hears of a failed file (EC_ERRORABORT).
        if (FAILED(file->FaultCode())) return file->FaultCode();
        MediaFileState now;
        const bool more = file->AwaitSound(&now);
        if (now.AudioFinished || !more || NoDataForTooLong()) return EndSound(file);
        return S_NODATAYET;
    }
    NoteDataArrived();
    if (ClearNextSample) {
        std::memset(buffer + SampleBytes, 0, static_cast<size_t>(size - SampleBytes));
        ClearNextSample = 0;
    }
    sample->SetActualDataLength(SampleBytes);
    StampSample(sample);
    return S_OK;
}

HRESULT CAudioStream::OnRateChanged() {
    double rate = 0;
    GetRate(&rate);
    if (!UsableRate(rate)) return E_INVALIDARG;
    CScopedLock hold(&StreamLock);
    SegmentRate = rate;
    return S_OK;
}
