#include "filter/VideoStream.h"

#include "filter/SrcFilter.h"
#include "framework/ScopedLock.h"

#include <amvideo.h>
#include <uuids.h>
#include <vfwmsgs.h>

#include <cstring>

CVideoStream::CVideoStream(HRESULT* result, CSrcFilter* filter)
    : CMediaStream(result, filter, L" Video ", filter->FetchFramePeriod()) {
    CScopedLock hold(&StreamLock);
    ClearNextSample = 1;
    LastSampleWidth = 0;
}

CVideoStream::~CVideoStream() = default;

HRESULT CVideoStream::VerifyMediaType(const CMediaFormat* type) {
    CScopedLock hold(PinLock);
    if (!IsEqualGUID(type->majortype, MEDIATYPE_Video) || !IsEqualGUID(type->subtype, MEDIASUBTYPE_YUY2) ||
        !type->pbFormat || type->cbFormat < sizeof(VIDEOINFOHEADER)) {
        return E_INVALIDARG;
    }
    const VIDEOINFOHEADER* info = reinterpret_cast<const VIDEOINFOHEADER*>(type->pbFormat);
    const LONG height = info->bmiHeader.biHeight < 0 ? -info->bmiHeader.biHeight : info->bmiHeader.biHeight;
    return (info->bmiHeader.biWidth >= 176 && height >= 120) ? S_OK : E_INVALIDARG;
}

HRESULT CVideoStream::ProposeMediaType(int position, CMediaFormat* type) {
    CScopedLock hold(PinLock);
    if (position < 0) return E_INVALIDARG;
    if (position > 0) return VFW_S_NO_MORE_ITEMS;
    type->AssignFrom(SrcFilter->VideoMediaType());
    return S_OK;
}

HRESULT CVideoStream::SizeAllocator(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) {
    CScopedLock hold(PinLock);
    const VIDEOINFOHEADER* info = reinterpret_cast<const VIDEOINFOHEADER*>(ConnectionType.pbFormat);
    if (!info || ConnectionType.cbFormat < sizeof(VIDEOINFOHEADER)) return E_FAIL;
    request->cBuffers = 2;
    request->cbBuffer = static_cast<long>(info->bmiHeader.biSizeImage);
    ALLOCATOR_PROPERTIES actual = {};
    const HRESULT hr = allocator->SetProperties(request, &actual);
    if (FAILED(hr)) return hr;
    return (actual.cbBuffer < request->cbBuffer || actual.cBuffers != 2) ? E_FAIL : S_OK;
}

HRESULT CVideoStream::OnWorkerStart() {
    CScopedLock hold(&StreamLock);
    RestartClock();
    ClearNextSample = 1;
    if (IMediaFile* file = SrcFilter->File()) file->ResumeDecoding();
    return S_OK;
}

HRESULT CVideoStream::OnPushStart() {
    if (IMediaFile* file = SrcFilter->File()) file->SetPictureReader(true);
    return CMediaStream::OnPushStart();
}

void CVideoStream::OnPushEnd(HRESULT reason) {
    IMediaFile* file = SrcFilter->File();
    if (file && StoppedReading(reason)) file->SetPictureReader(false);
}

HANDLE CVideoStream::DataWaitHandle() {
    IMediaFile* file = SrcFilter->File();
    return file ? file->PictureEvent() : nullptr;
}

void CVideoStream::FollowAttachedWidth(IMediaSample* sample) {
    AM_MEDIA_TYPE* attached = nullptr;
    if (FAILED(sample->GetMediaType(&attached)) || !attached) return;
    int32_t width = 0;
    if (IsEqualGUID(attached->formattype, FORMAT_VideoInfo) && attached->pbFormat &&
        attached->cbFormat >= sizeof(VIDEOINFOHEADER)) {
        width = reinterpret_cast<const VIDEOINFOHEADER*>(attached->pbFormat)->bmiHeader.biWidth;
    }
    if (width != LastSampleWidth) {
        LastSampleWidth = width;
        IMediaFile* file = SrcFilter->File();
        if (file && width != 0) file->SetDestinationStride(width);
    }
    FreeMediaTypeBlock(attached);
}

HRESULT CVideoStream::FillSample(IMediaSample* sample) {
    CScopedLock hold(&StreamLock);
    FollowAttachedWidth(sample);
    IMediaFile* file = SrcFilter->File();
    if (!file) return S_FALSE;
    if (HoldForOwnSeek()) return S_NODATAYET;

    BYTE* buffer = nullptr;
    sample->GetPointer(&buffer);
    const long size = sample->GetSize();
    const BYTE clearedNow = ClearNextSample;
    if (ClearNextSample) {
        std::memset(buffer, 0, static_cast<size_t>(size));
        ClearNextSample = 0;
    }
    // The workers read first and look at the state only when a read found
    // nothing, so a picture costs one call to the file (one round trip in
    // the 64-bit module).
    MediaFileState state;
    bool more = false;
    for (int reads = 0; reads < 2; ++reads) {
        if (file->ReadVideoFrame(buffer, size)) {
            NoteDataArrived();
            StampSample(sample);
            return S_OK;
        }
        if (FAILED(file->FaultCode())) return file->FaultCode();
        more = file->AwaitPictures(&state);
        // None queued: wait for one. Queued: it came after the read, or it
        // does not fit the buffer, which a second read tells.
        if (state.QueuedPictures == 0) break;
    }
    // Nothing was taken: the buffer stays as the next picture needs it.
    ClearNextSample = clearedNow;
    // Too large for the buffer: the stream ends.
    if (state.QueuedPictures > 0) return S_FALSE;
    // The graph hears of it (EC_ERRORABORT) rather than of an end with
    // pictures missing.
    if (state.OutOfMemory) return E_OUTOFMEMORY;
    if (more && !NoDataForTooLong()) return S_NODATAYET;
    if (FAILED(file->FaultCode())) return file->FaultCode();
    file->MarkVideoDrained();
    return S_FALSE;
}

HRESULT STDMETHODCALLTYPE CVideoStream::SetRate(double rate) {
    if (!UsableRate(rate)) return E_INVALIDARG;
    CScopedLock hold(&StreamLock);
    SegmentRate = rate;
    return S_OK;
}

HRESULT CVideoStream::OnRateChanged() {
    // SetRate above never reaches the seeking base's rate.
    return S_OK;
}
