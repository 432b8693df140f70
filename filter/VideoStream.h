// The video output pin " Video ": offers the filter's YUY2 type, asks for two
// downstream buffers of one picture each, and fills each sample with the
// oldest decoded picture, stamped from the picture period and the pin's rate.
//
// When no picture is queued it waits (the worker waits on the file's picture
// signal and still answers its requests) as long as a picture can still come;
// it ends its stream once the file has ended, decoding has stopped, or no
// picture has come for NoDataLimitMs while decoding runs. When the file could
// not buffer a picture for want of memory, the stream fails with
// E_OUTOFMEMORY (the graph gets EC_ERRORABORT) instead of ending short.
//
// Threads and locks: see CMediaStream. StreamLock also guards
// LastSampleWidth.
#pragma once

#include "filter/MediaStream.h"

class CVideoStream : public CMediaStream {
public:
    CVideoStream(HRESULT* result, CSrcFilter* filter);
    ~CVideoStream() override;

    HRESULT FillSample(IMediaSample* sample) override;
    HANDLE DataWaitHandle() override;
    HRESULT OnWorkerStart() override;
    HRESULT OnPushStart() override;
    void OnPushEnd(HRESULT reason) override;
    HRESULT VerifyMediaType(const CMediaFormat* type) override;
    HRESULT ProposeMediaType(int position, CMediaFormat* type) override;
    HRESULT SizeAllocator(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;

    // The pin's rate, without touching the seeking base's rate.
    HRESULT STDMETHODCALLTYPE SetRate(double rate) override;
    HRESULT OnRateChanged() override;

private:
    void FollowAttachedWidth(IMediaSample* sample);

    int32_t LastSampleWidth = 0;
};
