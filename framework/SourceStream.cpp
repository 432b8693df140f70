#include "framework/SourceStream.h"

#include "framework/ScopedLock.h"
#include "framework/Source.h"

#include <evcode.h>
#include <vfwmsgs.h>

namespace {

// Releases a delivery sample on every path out of one pass of the push loop.
class CHeldSample {
public:
    CHeldSample() = default;
    ~CHeldSample() { Drop(); }
    CHeldSample(const CHeldSample&) = delete;
    CHeldSample& operator=(const CHeldSample&) = delete;

    IMediaSample** Receive() { return &Sample; }
    IMediaSample* Get() const { return Sample; }
    void Drop() {
        if (Sample) {
            Sample->Release();
            Sample = nullptr;
        }
    }

private:
    IMediaSample* Sample = nullptr;
};

}  // namespace

CSourceStream::CSourceStream(const char* objectName, HRESULT* result, CSource* owner, const wchar_t* pinName)
    : CAMThread(),
      CBaseOutputPin(objectName, owner, owner->GetFilterLock(), result, pinName),
      OwnerFilter(owner) {
    const HRESULT appended = OwnerFilter->AppendPin(this);
    if (result) *result = appended;
}

CSourceStream::~CSourceStream() {
    // The worker runs this object's virtual operations: it must be gone
    // before any part of the stream is.
    JoinThread();
    OwnerFilter->DropPin(this);
}

HRESULT CSourceStream::OnWorkerStart() {
    return S_OK;
}

HRESULT CSourceStream::OnWorkerStop() {
    return S_OK;
}

HRESULT CSourceStream::OnPushStart() {
    return S_OK;
}

void CSourceStream::OnPushEnd(HRESULT) {}

HRESULT CSourceStream::StreamMediaType(CMediaFormat*) {
    return E_UNEXPECTED;
}

HANDLE CSourceStream::DataWaitHandle() {
    return nullptr;
}

HRESULT CSourceStream::Activate() {
    CScopedLock hold(PinLock);
    if (OwnerFilter->IsPausedOrRunning()) return S_FALSE;
    if (!IsConnected()) return S_OK;
    HRESULT result = CBaseOutputPin::Activate();
    if (FAILED(result)) return result;
    if (!StartThread()) {
        // Threads and events run out with memory (address space for the stack).
        CBaseOutputPin::Deactivate();
        return E_OUTOFMEMORY;
    }
    result = static_cast<HRESULT>(SendRequest(CommandInit));
    if (FAILED(result)) {
        // The worker has answered and is ending: join it, so that the pin is
        // inactive again and the next Activate can start a new one (a later
        // request would otherwise wait for a reply that never comes).
        JoinThread();
        CBaseOutputPin::Deactivate();
        return result;
    }
    return S_OK;
}

HRESULT CSourceStream::OnFilterPause() {
    CScopedLock hold(PinLock);
    if (!IsThreadRunning()) return S_OK;
    return static_cast<HRESULT>(SendRequest(CommandPause));
}

HRESULT CSourceStream::Deactivate() {
    CScopedLock hold(PinLock);
    if (!IsConnected()) return S_OK;
    HRESULT result = CBaseOutputPin::Deactivate();
    if (FAILED(result)) return result;
    if (IsThreadRunning()) {
        result = static_cast<HRESULT>(SendRequest(CommandStop));
        if (FAILED(result)) return result;
        result = static_cast<HRESULT>(SendRequest(CommandExit));
        if (FAILED(result)) return result;
        JoinThread();
    }
    return S_OK;
}

HRESULT CSourceStream::VerifyMediaType(const CMediaFormat* type) {
    CScopedLock hold(PinLock);
    CMediaFormat own;
    StreamMediaType(&own);
    return own.Equals(*type) ? S_OK : E_FAIL;
}

HRESULT CSourceStream::ProposeMediaType(int position, CMediaFormat* type) {
    CScopedLock hold(PinLock);
    if (position < 0) return E_INVALIDARG;
    if (position > 0) return VFW_S_NO_MORE_ITEMS;
    return StreamMediaType(type);
}

HRESULT STDMETHODCALLTYPE CSourceStream::QueryId(LPWSTR* id) {
    if (!id) return E_POINTER;
    const int number = OwnerFilter->IndexOfPin(static_cast<IPin*>(this)) + 1;
    if (number < 1) return VFW_E_NOT_FOUND;
    constexpr int IdChars = 4;
    *id = static_cast<LPWSTR>(CoTaskMemAlloc(IdChars * sizeof(WCHAR)));
    if (!*id) return E_OUTOFMEMORY;
    char digits[16];
    wsprintfA(digits, "%d", number);
    if (MultiByteToWideChar(CP_ACP, 0, digits, -1, *id, IdChars) == 0) {
        // More pins than four characters can number: keep what fits.
        (*id)[IdChars - 1] = L'\0';
    }
    return S_OK;
}

DWORD CSourceStream::WorkerLoop() {
    while (WaitRequest() != CommandInit) ReplyToRequest(static_cast<DWORD>(E_UNEXPECTED));
    HRESULT result = OnWorkerStart();
    if (FAILED(result)) {
        OnWorkerStop();
        ReplyToRequest(static_cast<DWORD>(result));
        return 1;
    }
    ReplyToRequest(S_OK);

    for (;;) {
        const DWORD code = WaitRequest();
        if (code == CommandPause || code == CommandRun) {
            ReplyToRequest(S_OK);
            PushSamples();
        } else if (code == CommandStop) {
            ReplyToRequest(S_OK);
        } else if (code == CommandExit) {
            ReplyToRequest(S_OK);
            break;
        } else {
            ReplyToRequest(static_cast<DWORD>(E_NOTIMPL));
        }
    }
    return FAILED(OnWorkerStop()) ? 1 : 0;
}

bool CSourceStream::WaitForDataOrRequest(bool skipHandle, bool* handleSignalled) {
    const HANDLE data = skipHandle ? nullptr : DataWaitHandle();
    if (data) {
        // Anything but a time-out returned early (a failed wait too): the
        // next wait then leaves the handle out, so the loop cannot spin.
        *handleSignalled = WaitForSingleObject(data, DataPollMs) != WAIT_TIMEOUT;
    } else {
        *handleSignalled = false;
        Sleep(DataPollMs);
    }
    return PeekRequest(nullptr);
}

HRESULT CSourceStream::PushSamples() {
    OnPushStart();
    for (;;) {
        DWORD code = 0;
        if (PeekRequest(&code)) {
            if (code == CommandStop) return S_FALSE;
            ReplyToRequest(code == CommandPause || code == CommandRun ? S_OK : static_cast<DWORD>(E_UNEXPECTED));
        }

        CHeldSample sample;
        if (FAILED(ObtainDeliveryBuffer(sample.Receive(), nullptr, nullptr, 0))) {
            // The allocator is decommitted until the stop request arrives.
            Sleep(1);
            continue;
        }

        HRESULT filled = FillSample(sample.Get());
        bool handleSignalled = false;
        bool requestPosted = false;
        while (filled == S_NODATAYET) {
            // A handle that woke the worker without bringing data sits out
            // the next wait.
            requestPosted = WaitForDataOrRequest(handleSignalled, &handleSignalled);
            if (requestPosted) break;
            filled = FillSample(sample.Get());
        }
        if (requestPosted) continue;

        if (filled == S_OK) {
            const HRESULT delivered = SendSample(sample.Get());
            sample.Drop();
            if (delivered != S_OK) {
                OnPushEnd(delivered);
                return S_OK;
            }
            continue;
        }
        sample.Drop();
        OnPushEnd(filled);
        SendEndOfStream();
        if (filled == S_FALSE) return S_OK;
        OwnerFilter->RaiseGraphEvent(EC_ERRORABORT, filled, 0);
        return filled;
    }
}
