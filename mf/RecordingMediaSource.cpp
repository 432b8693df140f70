#include "mf/RecordingMediaSource.h"

#include "framework/ScopedLock.h"
#include "common/KXPlayApi.h"
#include "mf/RecordingMediaStream.h"
#include "reader/MediaFileOpen.h"

#include <mfapi.h>
#include <mferror.h>

#include <cmath>
#include <new>

using Microsoft::WRL::ComPtr;

namespace {

constexpr DWORD PictureStreamId = 0;
constexpr DWORD SoundStreamId = 1;
// Sound goes out in pieces of 50 ms, as the sound pin sends it.
constexpr DWORD SoundBytes = IMediaFile::SoundSampleBytes;
constexpr double SoundPeriod = 1e7 * SoundBytes / IMediaFile::SoundBytesPerSecond;
// How long creation waits to see whether the recording has sound: the first
// sound, or the preroll queued (or the end) without any.
constexpr DWORD SoundDecisionMs = 5000;
constexpr DWORD SoundDecisionPollMs = 10;
// While a stream waits for data its no-data bound is checked this often;
// data itself wakes the thread through the file's events.
constexpr DWORD DataPollMs = 50;
// How long the streams hold their answers after a start from stopped for a
// client that does not come back for the source's events.
constexpr DWORD StartGateLimitMs = 2000;

// The frame rate as the ratio with the smallest denominator that gives the
// period to a part in 5000, so 7.5, 12.5 and 29.97 keep their value although
// the period comes from a whole-millisecond duration.
void FrameRateOf(double period, UINT32* numerator, UINT32* denominator) {
    const double rate = 10000000.0 / period;
    for (UINT32 d = 1; d <= 1001; ++d) {
        const double n = std::round(rate * d);
        if (n >= 1 && std::fabs(rate * d - n) <= rate * d / 5000) {
            *numerator = static_cast<UINT32>(n);
            *denominator = d;
            return;
        }
    }
    *numerator = static_cast<UINT32>(std::llround(rate * 1000));
    *denominator = 1000;
}

bool AwaitSoundDecision(IMediaFile* file) {
    const DWORD began = GetTickCount();
    for (;;) {
        const MediaFileState state = file->State();
        if (state.AudioStarted) return true;
        if (state.PrerollReached || state.FileEnded || FAILED(file->FaultCode()) ||
            GetTickCount() - began >= SoundDecisionMs) {
            return false;
        }
        Sleep(SoundDecisionPollMs);
    }
}

HRESULT PictureType(int32_t width, int32_t height, double period, IMFMediaType** type) {
    ComPtr<IMFMediaType> made;
    HRESULT hr = MFCreateMediaType(&made);
    UINT32 numerator = 0, denominator = 0;
    FrameRateOf(period, &numerator, &denominator);
    const UINT32 bytes = static_cast<UINT32>(width) * static_cast<UINT32>(height) * 2;
    if (SUCCEEDED(hr)) hr = made->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video);
    if (SUCCEEDED(hr)) hr = made->SetGUID(MF_MT_SUBTYPE, MFVideoFormat_YUY2);
    if (SUCCEEDED(hr)) hr = MFSetAttributeSize(made.Get(), MF_MT_FRAME_SIZE, width, height);
    if (SUCCEEDED(hr)) hr = MFSetAttributeRatio(made.Get(), MF_MT_FRAME_RATE, numerator, denominator);
    if (SUCCEEDED(hr)) hr = MFSetAttributeRatio(made.Get(), MF_MT_PIXEL_ASPECT_RATIO, 1, 1);
    if (SUCCEEDED(hr)) hr = made->SetUINT32(MF_MT_INTERLACE_MODE, MFVideoInterlace_Progressive);
    if (SUCCEEDED(hr)) hr = made->SetUINT32(MF_MT_DEFAULT_STRIDE, static_cast<UINT32>(width) * 2);
    if (SUCCEEDED(hr)) hr = made->SetUINT32(MF_MT_FIXED_SIZE_SAMPLES, TRUE);
    if (SUCCEEDED(hr)) hr = made->SetUINT32(MF_MT_ALL_SAMPLES_INDEPENDENT, TRUE);
    if (SUCCEEDED(hr)) hr = made->SetUINT32(MF_MT_SAMPLE_SIZE, bytes);
    if (SUCCEEDED(hr)) *type = made.Detach();
    return hr;
}

HRESULT SoundType(IMFMediaType** type) {
    ComPtr<IMFMediaType> made;
    HRESULT hr = MFCreateMediaType(&made);
    if (SUCCEEDED(hr)) hr = made->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Audio);
    if (SUCCEEDED(hr)) hr = made->SetGUID(MF_MT_SUBTYPE, MFAudioFormat_PCM);
    if (SUCCEEDED(hr)) hr = made->SetUINT32(MF_MT_AUDIO_NUM_CHANNELS, 1);
    if (SUCCEEDED(hr)) hr = made->SetUINT32(MF_MT_AUDIO_SAMPLES_PER_SECOND, KX_PCM_RATE);
    if (SUCCEEDED(hr)) hr = made->SetUINT32(MF_MT_AUDIO_BITS_PER_SAMPLE, 16);
    if (SUCCEEDED(hr)) hr = made->SetUINT32(MF_MT_AUDIO_BLOCK_ALIGNMENT, 2);
    if (SUCCEEDED(hr)) hr = made->SetUINT32(MF_MT_AUDIO_AVG_BYTES_PER_SECOND, IMediaFile::SoundBytesPerSecond);
    if (SUCCEEDED(hr)) hr = made->SetUINT32(MF_MT_ALL_SAMPLES_INDEPENDENT, TRUE);
    if (SUCCEEDED(hr)) *type = made.Detach();
    return hr;
}

HRESULT MakeDescriptor(DWORD id, IMFMediaType* type, ComPtr<IMFStreamDescriptor>* descriptor) {
    IMFMediaType* types[] = {type};
    HRESULT hr = MFCreateStreamDescriptor(id, 1, types, descriptor->ReleaseAndGetAddressOf());
    ComPtr<IMFMediaTypeHandler> handler;
    if (SUCCEEDED(hr)) hr = (*descriptor)->GetMediaTypeHandler(&handler);
    if (SUCCEEDED(hr)) hr = handler->SetCurrentMediaType(type);
    return hr;
}

}  // namespace

HRESULT CRecordingMediaSource::Create(const wchar_t* path, IMFMediaSource** source) {
    *source = nullptr;
    std::unique_ptr<IMediaFile> file = CreateMediaFile();
    const HRESULT opened = OpenMediaFile(file.get(), path);
    if (FAILED(opened)) return opened;
    int32_t width = 0, height = 0;
    file->GetVideoSize(&width, &height);
    const double period = file->GetPicturePeriod() > 0 ? file->GetPicturePeriod() : CPictureGrid::DefaultPeriod;
    const uint32_t durationMs = file->GetDurationMs();
    const CPictureGrid grid(period, durationMs);
    const bool sound = AwaitSoundDecision(file.get());
    const DWORD pictureBytes = static_cast<DWORD>(width) * static_cast<DWORD>(height) * 2;

    CRecordingMediaSource* made = new (std::nothrow) CRecordingMediaSource(
        std::move(file), grid, static_cast<REFERENCE_TIME>(durationMs) * 10000, pictureBytes, sound);
    if (!made) return E_OUTOFMEMORY;
    made->InnerAddRef();
    HRESULT hr = made->BuildPresentation(width, height);
    if (SUCCEEDED(hr)) hr = made->InnerQueryInterface(IID_IMFMediaSource, reinterpret_cast<void**>(source));
    made->InnerRelease();
    return hr;
}

CRecordingMediaSource::CRecordingMediaSource(std::unique_ptr<IMediaFile> file, const CPictureGrid& grid,
                                             REFERENCE_TIME duration, DWORD pictureBytes, bool sound)
    : CUnknown("Recording media source", nullptr),
      File(std::move(file)),
      Grid(grid),
      Duration(duration),
      PictureBytes(pictureBytes),
      HasSound(sound) {}

CRecordingMediaSource::~CRecordingMediaSource() { Close(); }

HRESULT CRecordingMediaSource::BuildPresentation(int32_t width, int32_t height) {
    HRESULT hr = MFCreateEventQueue(&Events);
    ComPtr<IMFMediaType> type;
    if (SUCCEEDED(hr)) hr = PictureType(width, height, Grid.Period(), &type);
    Descriptors.emplace_back();
    if (SUCCEEDED(hr)) hr = MakeDescriptor(PictureStreamId, type.Get(), &Descriptors.back());
    if (HasSound) {
        if (SUCCEEDED(hr)) hr = SoundType(type.ReleaseAndGetAddressOf());
        Descriptors.emplace_back();
        if (SUCCEEDED(hr)) hr = MakeDescriptor(SoundStreamId, type.Get(), &Descriptors.back());
    }
    if (FAILED(hr)) return hr;
    std::vector<IMFStreamDescriptor*> list;
    for (const ComPtr<IMFStreamDescriptor>& descriptor : Descriptors) list.push_back(descriptor.Get());
    hr = MFCreatePresentationDescriptor(static_cast<DWORD>(list.size()), list.data(), &Presentation);
    for (DWORD i = 0; SUCCEEDED(hr) && i < list.size(); ++i) hr = Presentation->SelectStream(i);
    if (SUCCEEDED(hr)) hr = Presentation->SetUINT64(MF_PD_DURATION, static_cast<UINT64>(Duration));
    if (FAILED(hr)) return hr;

    Thread.Reset(CreateThread(nullptr, 0, &CRecordingMediaSource::DeliveryThread, this, 0, nullptr));
    return Thread ? S_OK : HRESULT_FROM_WIN32(GetLastError());
}

HRESULT STDMETHODCALLTYPE CRecordingMediaSource::InnerQueryInterface(REFIID id, void** out) {
    if (!out) return E_POINTER;
    if (IsEqualIID(id, IID_IMFMediaSource) || IsEqualIID(id, IID_IMFMediaEventGenerator)) {
        return HandOutInterface(static_cast<IMFMediaSource*>(this), out);
    }
    return CUnknown::InnerQueryInterface(id, out);
}

// The queue itself answers MF_E_SHUTDOWN once Close has shut it down. A
// blocking GetEvent waits in the queue with SourceLock not held.
HRESULT STDMETHODCALLTYPE CRecordingMediaSource::GetEvent(DWORD flags, IMFMediaEvent** event) {
    {
        CScopedLock hold(&SourceLock);
        EventsAskedFor();
    }
    const HRESULT hr = Events->GetEvent(flags, event);
    if (SUCCEEDED(hr)) {
        CScopedLock hold(&SourceLock);
        EventTaken(*event);
    }
    return hr;
}

HRESULT STDMETHODCALLTYPE CRecordingMediaSource::BeginGetEvent(IMFAsyncCallback* callback, IUnknown* state) {
    {
        CScopedLock hold(&SourceLock);
        EventsAskedFor();
    }
    return Events->BeginGetEvent(callback, state);
}

HRESULT STDMETHODCALLTYPE CRecordingMediaSource::EndGetEvent(IMFAsyncResult* result, IMFMediaEvent** event) {
    const HRESULT hr = Events->EndGetEvent(result, event);
    if (SUCCEEDED(hr)) {
        CScopedLock hold(&SourceLock);
        EventTaken(*event);
    }
    return hr;
}

void CRecordingMediaSource::EventsAskedFor() {
    if (StartGate != Gate::AwaitReturn) return;
    StartGate = Gate::Open;
    WakeDelivery();
}

void CRecordingMediaSource::EventTaken(IMFMediaEvent* event) {
    MediaEventType type = MEUnknown;
    if (FAILED(event->GetType(&type)) || type != MESourceStarted || StartsUntaken == 0) return;
    if (--StartsUntaken == 0 && StartGate == Gate::AwaitTaken) StartGate = Gate::AwaitReturn;
}

bool CRecordingMediaSource::GateOpen() {
    if (StartGate != Gate::Open && GetTickCount() - GateClosedAt >= StartGateLimitMs) StartGate = Gate::Open;
    return StartGate == Gate::Open;
}

HRESULT STDMETHODCALLTYPE CRecordingMediaSource::QueueEvent(MediaEventType type, REFGUID extendedType,
                                                            HRESULT status, const PROPVARIANT* value) {
    return Events->QueueEventParamVar(type, extendedType, status, value);
}

HRESULT STDMETHODCALLTYPE CRecordingMediaSource::GetCharacteristics(DWORD* characteristics) {
    if (!characteristics) return E_POINTER;
    CScopedLock hold(&SourceLock);
    if (IsShutDown) return MF_E_SHUTDOWN;
    *characteristics = MFMEDIASOURCE_CAN_SEEK | MFMEDIASOURCE_CAN_PAUSE;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CRecordingMediaSource::CreatePresentationDescriptor(
    IMFPresentationDescriptor** descriptor) {
    if (!descriptor) return E_POINTER;
    *descriptor = nullptr;
    CScopedLock hold(&SourceLock);
    if (IsShutDown) return MF_E_SHUTDOWN;
    return Presentation->Clone(descriptor);
}

HRESULT STDMETHODCALLTYPE CRecordingMediaSource::Start(IMFPresentationDescriptor* descriptor,
                                                       const GUID* timeFormat, const PROPVARIANT* position) {
    if (!descriptor || !position) return E_INVALIDARG;
    if (timeFormat && !IsEqualGUID(*timeFormat, GUID_NULL)) return MF_E_UNSUPPORTED_TIME_FORMAT;
    if (position->vt != VT_I8 && position->vt != VT_EMPTY) return MF_E_UNSUPPORTED_TIME_FORMAT;
    if (position->vt == VT_I8 && position->hVal.QuadPart < 0) return E_INVALIDARG;
    Command command{Command::Kind::Start, position->vt == VT_I8 ? position->hVal.QuadPart : -1,
                    std::vector<bool>(Descriptors.size(), false)};
    DWORD count = 0;
    HRESULT hr = descriptor->GetStreamDescriptorCount(&count);
    for (DWORD i = 0; SUCCEEDED(hr) && i < count; ++i) {
        BOOL selected = FALSE;
        ComPtr<IMFStreamDescriptor> stream;
        DWORD id = 0;
        hr = descriptor->GetStreamDescriptorByIndex(i, &selected, &stream);
        if (SUCCEEDED(hr)) hr = stream->GetStreamIdentifier(&id);
        if (SUCCEEDED(hr) && id >= command.Selected.size()) hr = MF_E_INVALIDSTREAMNUMBER;
        if (SUCCEEDED(hr)) command.Selected[id] = selected != FALSE;
    }
    if (FAILED(hr)) return hr;

    CScopedLock hold(&SourceLock);
    if (IsShutDown) return MF_E_SHUTDOWN;
    for (DWORD id = static_cast<DWORD>(Streams.size()); id < Descriptors.size(); ++id) {
        HRESULT made = S_OK;
        const double period = id == PictureStreamId ? Grid.Period() : SoundPeriod;
        const DWORD bytes = id == PictureStreamId ? PictureBytes : SoundBytes;
        const auto kind = id == PictureStreamId ? CRecordingMediaStream::Kind::Pictures
                                                : CRecordingMediaStream::Kind::Sound;
        // Born without a reference: the ComPtr's is its first.
        const ComPtr<CRecordingMediaStream> stream =
            new (std::nothrow) CRecordingMediaStream(this, Descriptors[id].Get(), kind, period, bytes, &made);
        if (!stream) return E_OUTOFMEMORY;
        if (FAILED(made)) return made;
        Streams.push_back(stream);
    }
    // Performed in order, this start sends MESourceStarted from stopped and
    // when it resumes, MESourceSeeked otherwise.
    if (State == SourceState::Stopped || command.Position < 0) ++StartsUntaken;
    if (State == SourceState::Stopped) {
        StartGate = Gate::AwaitTaken;
        GateClosedAt = GetTickCount();
    }
    State = SourceState::Started;
    Commands.push_back(std::move(command));
    WakeDelivery();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CRecordingMediaSource::Pause() {
    CScopedLock hold(&SourceLock);
    if (IsShutDown) return MF_E_SHUTDOWN;
    if (State != SourceState::Started) return MF_E_INVALID_STATE_TRANSITION;
    State = SourceState::Paused;
    Commands.push_back(Command{Command::Kind::Pause, -1, {}});
    WakeDelivery();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CRecordingMediaSource::Stop() {
    CScopedLock hold(&SourceLock);
    if (IsShutDown) return MF_E_SHUTDOWN;
    State = SourceState::Stopped;
    for (const ComPtr<CRecordingMediaStream>& stream : Streams) stream->DropRequests();
    Commands.push_back(Command{Command::Kind::Stop, -1, {}});
    WakeDelivery();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CRecordingMediaSource::Shutdown() {
    {
        CScopedLock hold(&SourceLock);
        if (IsShutDown) return MF_E_SHUTDOWN;
    }
    Close();
    return S_OK;
}

void CRecordingMediaSource::Close() {
    {
        CScopedLock hold(&SourceLock);
        if (IsShutDown) return;
        IsShutDown = true;
        Commands.clear();
        WakeDelivery();
    }
    if (Thread) WaitForSingleObject(Thread.Get(), INFINITE);
    Thread.Reset();
    File->StopDecoding();
    File->CloseFile();
    std::vector<ComPtr<CRecordingMediaStream>> streams;
    {
        CScopedLock hold(&SourceLock);
        streams.swap(Streams);
    }
    for (const ComPtr<CRecordingMediaStream>& stream : streams) stream->Close();
    if (Events) Events->Shutdown();
}

DWORD WINAPI CRecordingMediaSource::DeliveryThread(void* source) {
    static_cast<CRecordingMediaSource*>(source)->DeliveryLoop();
    return 0;
}

void CRecordingMediaSource::WakeDelivery() {
    WakePending = true;
    if (Sleeping == Sleep::Idle) IdleWake.WakeAll();
    if (Sleeping == Sleep::ForData) Wake.Set();
}

void CRecordingMediaSource::DeliveryLoop() {
    for (;;) {
        for (;;) {
            Command command;
            {
                CScopedLock hold(&SourceLock);
                if (IsShutDown) return;
                // What woke the thread is looked at in this pass.
                WakePending = false;
                if (Commands.empty()) break;
                command = std::move(Commands.front());
                Commands.pop_front();
            }
            Perform(command);
        }
        Rest(Deliver());
    }
}

void CRecordingMediaSource::Rest(Need need) {
    {
        CScopedLock hold(&SourceLock);
        if (WakePending || IsShutDown) return;
        if (need == Need::Nothing) {
            Sleeping = Sleep::Idle;
            IdleWake.Wait(&SourceLock);
            Sleeping = Sleep::Awake;
            return;
        }
        Sleeping = Sleep::ForData;
    }
    const HANDLE handles[] = {Wake.Handle(), File->PictureEvent(), File->SoundEvent()};
    WaitForMultipleObjects(3, handles, FALSE, need == Need::DataRequested ? DataPollMs : INFINITE);
    CScopedLock hold(&SourceLock);
    Sleeping = Sleep::Awake;
}

void CRecordingMediaSource::Perform(const Command& command) {
    switch (command.What) {
    case Command::Kind::Start:
        PerformStart(command);
        break;
    case Command::Kind::Pause: {
        Performed = SourceState::Paused;
        CScopedLock hold(&SourceLock);
        QueueSourceEvent(MESourcePaused, S_OK, 0, false);
        for (const ComPtr<CRecordingMediaStream>& stream : Streams) {
            if (stream->IsActive()) stream->QueueEvent(MEStreamPaused, GUID_NULL, S_OK, nullptr);
        }
        break;
    }
    case Command::Kind::Stop: {
        Performed = SourceState::Stopped;
        File->StopDecoding();
        File->SetSoundConsumer(false);
        CScopedLock hold(&SourceLock);
        QueueSourceEvent(MESourceStopped, S_OK, 0, false);
        for (const ComPtr<CRecordingMediaStream>& stream : Streams) {
            if (stream->IsActive()) stream->QueueEvent(MEStreamStopped, GUID_NULL, S_OK, nullptr);
        }
        break;
    }
    }
}

void CRecordingMediaSource::PerformStart(const Command& command) {
    const SourceState before = Performed;
    Performed = SourceState::Started;
    // A start with no position resumes a paused or running source where it
    // is; a stopped source starts from the beginning.
    const bool resume = command.Position < 0 && before != SourceState::Stopped;
    const REFERENCE_TIME target = command.Position < 0 ? 0 : command.Position;
    const bool seek = before != SourceState::Stopped && !resume;
    bool atEnd = !resume && target >= Duration;
    if (!resume && !atEnd && !(FileUntouched && FilePosition == target)) {
        // A refused move has ended the file: the streams end rather than wait.
        atEnd = !File->SeekTo(Grid.LibraryMs(target));
        FilePosition = target;
        FileUntouched = true;
    }
    if (before == SourceState::Stopped) File->ResumeDecoding();
    File->SetPictureReader(command.Selected[PictureStreamId]);
    File->SetSoundConsumer(HasSound && command.Selected[SoundStreamId]);

    CScopedLock hold(&SourceLock);
    for (size_t id = 0; id < Streams.size(); ++id) {
        CRecordingMediaStream* stream = Streams[id].Get();
        const bool wasActive = stream->IsActive();
        stream->SetActive(command.Selected[id]);
        if (!command.Selected[id]) continue;
        if (!resume || !wasActive) stream->BeginSegment(target, atEnd);
        Events->QueueEventParamUnk(wasActive ? MEUpdatedStream : MENewStream, GUID_NULL, S_OK,
                                   static_cast<IMFMediaStream*>(stream));
    }
    if (!resume) EndOfPresentationSent = false;
    QueueSourceEvent(seek ? MESourceSeeked : MESourceStarted, S_OK, target, !resume);
    for (const ComPtr<CRecordingMediaStream>& stream : Streams) {
        if (!stream->IsActive()) continue;
        PROPVARIANT time;
        PropVariantInit(&time);
        if (!resume) {
            time.vt = VT_I8;
            time.hVal.QuadPart = target;
        }
        stream->QueueEvent(seek ? MEStreamSeeked : MEStreamStarted, GUID_NULL, S_OK, &time);
    }
}

CRecordingMediaSource::Need CRecordingMediaSource::Deliver() {
    Need need = Need::Nothing;
    std::vector<ComPtr<CRecordingMediaStream>> streams;
    {
        CScopedLock hold(&SourceLock);
        streams = Streams;
    }
    for (const ComPtr<CRecordingMediaStream>& stream : streams) {
        for (;;) {
            // Without a request the picture stream takes one picture ahead,
            // so that the copy is done by the time the next request comes.
            // Sound is read only when asked for: read ahead, the last piece
            // at the end of a 7.5-a-second recording went missing in 2 of 4
            // runs.
            bool ahead = false;
            {
                CScopedLock hold(&SourceLock);
                if (State != SourceState::Started || !stream->IsActive() || stream->Finished()) break;
                const bool open = GateOpen();
                // A closed gate's bound is kept by the wait for data.
                if (!open && stream->HasRequest()) need = Need::DataRequested;
                if (open && stream->HasRequest()) {
                    if (ComPtr<IMFSample> held = stream->TakeHeld()) {
                        stream->SendSample(held.Get());
                        continue;
                    }
                    if (stream->EndIsDecided()) {
                        stream->SendEnd();
                        continue;
                    }
                } else {
                    if (stream->StreamKind() != CRecordingMediaStream::Kind::Pictures || stream->IsHolding() ||
                        stream->EndIsDecided()) {
                        break;
                    }
                    ahead = true;
                }
            }
            ComPtr<IMFSample> sample;
            HRESULT error = S_OK;
            const CRecordingMediaStream::Take taken = stream->TakeNext(File.get(), &sample, &error);
            if (taken == CRecordingMediaStream::Take::Wait) {
                if (!ahead) need = Need::DataRequested;
                if (need == Need::Nothing) need = Need::DataAhead;
                break;
            }
            CScopedLock hold(&SourceLock);
            if (taken == CRecordingMediaStream::Take::Sample) {
                FileUntouched = false;
                // Dropped by a Stop meanwhile, or held for the next request.
                if (State == SourceState::Started && stream->HasRequest() && GateOpen()) {
                    stream->SendSample(sample.Get());
                } else if (State != SourceState::Stopped) {
                    stream->Hold(sample.Get());
                }
            } else if (taken == CRecordingMediaStream::Take::End) {
                stream->DecideEnd();
            } else {
                stream->SendError(error);
            }
            if (ahead) break;
        }
    }
    // The presentation ends once every active stream has, and only with no
    // start waiting: a pass between a Start and its performance would find
    // the new streams not yet active and end a presentation not begun.
    CScopedLock hold(&SourceLock);
    bool anyActive = false;
    bool allEnded = State == SourceState::Started && Commands.empty();
    for (const ComPtr<CRecordingMediaStream>& stream : Streams) {
        if (!stream->IsActive()) continue;
        anyActive = true;
        if (!stream->Finished()) allEnded = false;
    }
    allEnded = allEnded && anyActive;
    if (allEnded && !EndOfPresentationSent) {
        EndOfPresentationSent = true;
        QueueSourceEvent(MEEndOfPresentation, S_OK, 0, false);
    }
    return need;
}

void CRecordingMediaSource::QueueSourceEvent(MediaEventType type, HRESULT status, REFERENCE_TIME time,
                                             bool timed) {
    PROPVARIANT value;
    PropVariantInit(&value);
    if (timed) {
        value.vt = VT_I8;
        value.hVal.QuadPart = time;
    }
    Events->QueueEventParamVar(type, GUID_NULL, status, &value);
}
