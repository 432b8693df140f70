// CSourceStream: an output pin with its own worker thread that pushes
// samples. While the filter is paused or running the worker loops: it takes
// an empty sample from the connection's allocator, has the derived stream
// fill it (FillSample) and delivers it; between samples it answers the
// requests that the filter's state changes and the stream's seeking send it
// (WorkerCommand). FillSample's answer steers the loop:
//   S_OK         deliver the sample; a delivery that is not exactly S_OK
//                (an error, or S_FALSE from downstream) ends pushing
//                silently: no end-of-stream, no event;
//   S_FALSE      end of data: end-of-stream downstream, pushing ends;
//   S_NODATAYET  no data now, but more can come: see below;
//   other        end-of-stream downstream and EC_ERRORABORT with that code
//                to the graph; pushing ends.
// After pushing ends the worker waits for the next request; it sends nothing
// more until it is told to pause or run again.
//
// S_NODATAYET: the worker keeps the sample and waits, at most DataPollMs, on
// the stream's DataWaitHandle (or simply that long when the stream has none),
// then looks for a request. If one is posted it releases the sample and
// answers the request exactly as between two samples; otherwise it calls
// FillSample again with the same sample. A stream thus waits for its data
// without ending its stream and without holding up a stop, pause or seek for
// more than a few milliseconds. A handle that stays signalled while
// FillSample keeps answering S_NODATAYET is left out of the following wait,
// so the worker never spins.
//
// Owns its worker thread (CAMThread). OwnerFilter is held without a
// reference; the filter owns the stream and deletes it.
//
// Threads: Activate, OnFilterPause, Deactivate, the media-type operations and QueryId run on
// the graph's or application's threads under the owner's StateLock (the pin
// lock); they hold it while they wait for the worker's reply, so StateLock
// comes before the worker's request channel. WorkerLoop, PushSamples,
// FillSample, OnWorkerStart, OnWorkerStop, OnPushStart, OnPushEnd and DataWaitHandle run
// on the worker and must never take StateLock. A stream's seek handling may
// send CommandStop and CommandRun from the seeking thread.
#pragma once

#include "framework/AMThread.h"
#include "framework/BaseOutputPin.h"
#include "framework/MediaFormat.h"

#include <windows.h>
#include <strmif.h>

class CSource;

// The worker's request codes.
enum WorkerCommand : DWORD {
    CommandInit = 0,   // Activate, after starting the thread
    CommandPause = 1,  // OnFilterPause, after CommandInit succeeded
    CommandRun = 2,    // seek handling, after a CommandStop, to resume pushing
    CommandStop = 3,   // Deactivate; seek handling
    CommandExit = 4,   // Deactivate, after CommandStop
};

// FillSample's "no data yet, but more can come": a success code distinct from
// S_OK, S_FALSE and the platform's VFW_S_ codes.
constexpr HRESULT S_NODATAYET = MAKE_HRESULT(SEVERITY_SUCCESS, FACILITY_ITF, 0x0300);

class CSourceStream : public CAMThread, public CBaseOutputPin {
public:
    // Adds the stream to owner's pin list; *result receives that outcome
    // (E_OUTOFMEMORY: the stream is not in the list).
    CSourceStream(const char* objectName, HRESULT* result, CSource* owner, const wchar_t* pinName);
    // Joins any worker left, leaves the owner's list.
    ~CSourceStream() override;

    // The command loop; exit code 1 when OnWorkerStart or OnWorkerStop failed.
    DWORD WorkerLoop() override;
    // Writes data, length and times into the sample; see above for results.
    virtual HRESULT FillSample(IMediaSample* sample) = 0;
    // Worker hooks: when the worker starts (a failure fails Activate), when
    // it ends, and each time pushing starts.
    virtual HRESULT OnWorkerStart();
    virtual HRESULT OnWorkerStop();
    virtual HRESULT OnPushStart();
    // Called on the worker when pushing ends for good, with FillSample's end
    // (S_FALSE or an error) or the result of a delivery downstream did not
    // take. Not called when the worker leaves pushing for a stop request.
    virtual void OnPushEnd(HRESULT reason);
    // The push loop; S_FALSE when it left for a stop request, which stays
    // posted for the command loop.
    virtual HRESULT PushSamples();
    // The stream's one media type, for the default type checks.
    virtual HRESULT StreamMediaType(CMediaFormat* type);
    // Signalled when FillSample may have data after answering S_NODATAYET;
    // null (the default) for none. Called on the worker; not owned here.
    virtual HANDLE DataWaitHandle();

    // Commits the allocator and starts the worker, which waits; S_FALSE when
    // the filter is already active, S_OK without doing anything when the pin
    // is unconnected. A failure leaves the pin inactive (E_OUTOFMEMORY when
    // the worker cannot be started).
    HRESULT Activate() override;
    // Has the worker start pushing (once every pin of the filter is active).
    HRESULT OnFilterPause() override;
    // Decommits the allocator (freeing a worker waiting for a sample), then
    // stops and joins the worker.
    HRESULT Deactivate() override;
    // Exactly StreamMediaType's type.
    HRESULT VerifyMediaType(const CMediaFormat* type) override;
    // StreamMediaType at position 0.
    HRESULT ProposeMediaType(int position, CMediaFormat* type) override;

    HRESULT STDMETHODCALLTYPE QueryId(LPWSTR* id) override;

    // Longest wait between two looks for a request while FillSample has no
    // data yet.
    static constexpr DWORD DataPollMs = 5;

protected:
    CSource* const OwnerFilter;

private:
    // S_NODATAYET: waits for data (on DataWaitHandle unless skipHandle) or
    // a request; true when a request is posted. *handleSignalled tells
    // whether the wait ended before its time.
    bool WaitForDataOrRequest(bool skipHandle, bool* handleSignalled);
};
