// The Media Foundation media source of one recording: the presentation
// (a video stream, and a sound stream where the recording has sound), the
// source's state and its events, and the delivery thread that fills the
// streams' sample requests from the media file.
//
// Owns the media file, the presentation descriptor, its event queue (MF's
// own), the streams (from the first Start on; each holds a reference back,
// so a started source lives until Shutdown, as MF's rules have it), the
// delivery thread and its wake event.
//
// Threads: any application or MF thread calls the COM methods; Start, Pause
// and Stop check the transition at once and leave the work to the delivery
// thread as a command, so no caller waits for the file. The delivery thread
// alone calls the media file after creation (commands, reads, stamps); it is
// joined by Shutdown (and by the destructor) before the file goes.
//
// After a start from stopped, the streams answer no request until whoever
// reads the source's events has taken its MESourceStarted and come back for
// the next event (or, for a client that never does, two seconds pass). A
// client that judges from that event whether the source runs, as Wine's
// source reader does, and gets a sample first starts the source again, and
// the restart delivers the first pictures twice.
//
// The delivery thread sleeps in one of two ways: on IdleWake while nothing
// it could do waits for the file (a wake then costs no kernel call, and
// every request a reader makes is one), or on the Wake event and the file's
// picture and sound events while a stream waits for data.
//
// Locks: SourceLock guards State, Commands, IsShutDown, WakePending,
// Sleeping, the start gate's fields and every stream's requests and end flags
// (CRecordingMediaStream); it is taken before the event queues' own locks
// and never held across a call into the media file.
#pragma once

#include "framework/Condition.h"
#include "framework/CritLock.h"
#include "framework/SyncEvent.h"
#include "framework/UniqueHandle.h"
#include "framework/Unknown.h"
#include "picture/PictureGrid.h"
#include "reader/IMediaFile.h"

#include <mfidl.h>
#include <wrl/client.h>

#include <deque>
#include <memory>
#include <vector>

class CRecordingMediaStream;

class CRecordingMediaSource : public CUnknown, public IMFMediaSource {
public:
    // Opens path and builds the presentation; the open's failure codes are
    // the source filter's Load's. Creating thread; may wait for the file.
    static HRESULT Create(const wchar_t* path, IMFMediaSource** source);

    KX_FORWARD_UNKNOWN_TO_OUTER
    HRESULT STDMETHODCALLTYPE InnerQueryInterface(REFIID id, void** out) override;

    // IMFMediaEventGenerator
    HRESULT STDMETHODCALLTYPE GetEvent(DWORD flags, IMFMediaEvent** event) override;
    HRESULT STDMETHODCALLTYPE BeginGetEvent(IMFAsyncCallback* callback, IUnknown* state) override;
    HRESULT STDMETHODCALLTYPE EndGetEvent(IMFAsyncResult* result, IMFMediaEvent** event) override;
    HRESULT STDMETHODCALLTYPE QueueEvent(MediaEventType type, REFGUID extendedType, HRESULT status,
                                         const PROPVARIANT* value) override;
    // IMFMediaSource
    HRESULT STDMETHODCALLTYPE GetCharacteristics(DWORD* characteristics) override;
    HRESULT STDMETHODCALLTYPE CreatePresentationDescriptor(IMFPresentationDescriptor** descriptor) override;
    HRESULT STDMETHODCALLTYPE Start(IMFPresentationDescriptor* descriptor, const GUID* timeFormat,
                                    const PROPVARIANT* position) override;
    HRESULT STDMETHODCALLTYPE Stop() override;
    HRESULT STDMETHODCALLTYPE Pause() override;
    HRESULT STDMETHODCALLTYPE Shutdown() override;

    // SourceLock held (a stream's RequestSample, a state change): the
    // delivery thread makes a pass, in whichever way it sleeps.
    void WakeDelivery();
    CCritLock* Lock() { return &SourceLock; }
    // SourceLock held: the state requests are taken in.
    bool Running() const { return State == SourceState::Started; }
    bool Stopped() const { return State == SourceState::Stopped; }
    bool ShutDown() const { return IsShutDown; }

private:
    enum class SourceState { Stopped, Paused, Started };
    // How the delivery thread sleeps, and what a pass found it needs.
    enum class Sleep { Awake, Idle, ForData };
    enum class Need { Nothing, DataAhead, DataRequested };
    // Closed by a start from stopped; the reader of the source's events takes
    // the start's event, then comes back.
    enum class Gate { Open, AwaitTaken, AwaitReturn };
    struct Command {
        enum class Kind { Start, Pause, Stop } What = Kind::Stop;
        // Start: the position, or -1 to go on from where the source is.
        REFERENCE_TIME Position = -1;
        std::vector<bool> Selected;
    };

    CRecordingMediaSource(std::unique_ptr<IMediaFile> file, const CPictureGrid& grid, REFERENCE_TIME duration,
                          DWORD pictureBytes, bool sound);
    ~CRecordingMediaSource() override;
    HRESULT BuildPresentation(int32_t width, int32_t height);

    // Delivery thread.
    static DWORD WINAPI DeliveryThread(void* source);
    void DeliveryLoop();
    void Perform(const Command& command);
    void PerformStart(const Command& command);
    // Fills what requests it can; says whether a stream waits for data, and
    // whether one with a request does (the wait then needs a time-out for the
    // streams' no-data bound).
    Need Deliver();
    // Sleeps until woken, or until the file has data when need says so.
    void Rest(Need need);
    void QueueSourceEvent(MediaEventType type, HRESULT status, REFERENCE_TIME time, bool timed);
    // SourceLock held. A caller of GetEvent or BeginGetEvent has come back,
    // and an event it took may be the start's.
    void EventsAskedFor();
    void EventTaken(IMFMediaEvent* event);
    // Whether the streams may answer requests; opens the gate once its bound
    // has passed.
    bool GateOpen();
    // Ends the thread and the queues; SourceLock not held. Any thread but the
    // delivery thread.
    void Close();

    const std::unique_ptr<IMediaFile> File;
    const CPictureGrid Grid;
    const REFERENCE_TIME Duration;
    const DWORD PictureBytes;
    const bool HasSound;
    Microsoft::WRL::ComPtr<IMFMediaEventQueue> Events;
    Microsoft::WRL::ComPtr<IMFPresentationDescriptor> Presentation;
    std::vector<Microsoft::WRL::ComPtr<IMFStreamDescriptor>> Descriptors;

    CCritLock SourceLock;
    SourceState State = SourceState::Stopped;
    bool IsShutDown = false;
    std::deque<Command> Commands;
    std::vector<Microsoft::WRL::ComPtr<CRecordingMediaStream>> Streams;
    bool WakePending = false;
    Sleep Sleeping = Sleep::Awake;
    CCondition IdleWake;
    Gate StartGate = Gate::Open;
    DWORD GateClosedAt = 0;
    // MESourceStarted events queued and not yet taken by the events' reader.
    int StartsUntaken = 0;
    CSyncEvent Wake{false};
    CUniqueHandle Thread;

    // Delivery thread only: the state the performed commands left, where the
    // file stands, and whether nothing has been taken from it since it was
    // placed there (a start at that place needs no seek).
    SourceState Performed = SourceState::Stopped;
    REFERENCE_TIME FilePosition = 0;
    bool FileUntouched = true;
    bool EndOfPresentationSent = false;
};
