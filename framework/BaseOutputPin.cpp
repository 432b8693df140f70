#include "framework/BaseOutputPin.h"

#include <uuids.h>
#include <vfwmsgs.h>

namespace {

template <typename T>
void ReleaseAndClear(T** held) {
    if (*held) {
        (*held)->Release();
        *held = nullptr;
    }
}

}  // namespace

CBaseOutputPin::CBaseOutputPin(const char* objectName, CBaseFilter* filter, CCritLock* lock, HRESULT* result,
                               const wchar_t* pinName)
    : CBasePin(objectName, filter, lock, result, pinName, PINDIR_OUTPUT), Allocator(nullptr), InputPin(nullptr) {}

HRESULT CBaseOutputPin::Activate() {
    return Allocator ? Allocator->Commit() : VFW_E_NO_ALLOCATOR;
}

HRESULT CBaseOutputPin::Deactivate() {
    return Allocator ? Allocator->Decommit() : VFW_E_NO_ALLOCATOR;
}

HRESULT CBaseOutputPin::VerifyPeer(IPin* peer) {
    HRESULT result = CBasePin::VerifyPeer(peer);
    if (FAILED(result)) return result;
    result = peer->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&InputPin));
    return FAILED(result) ? result : S_OK;
}

HRESULT CBaseOutputPin::TearDownConnection() {
    if (Allocator) {
        const HRESULT result = Allocator->Decommit();
        if (FAILED(result)) return result;
        ReleaseAndClear(&Allocator);
    }
    ReleaseAndClear(&InputPin);
    return S_OK;
}

HRESULT CBaseOutputPin::FinishConnection(IPin*) {
    return NegotiateAllocator(InputPin, &Allocator);
}

HRESULT CBaseOutputPin::NegotiateAllocator(IMemInputPin* input, IMemAllocator** allocator) {
    *allocator = nullptr;
    ALLOCATOR_PROPERTIES request = {0, 0, 0, 0};
    input->GetAllocatorRequirements(&request);
    if (request.cbAlign == 0) request.cbAlign = 1;

    HRESULT result = input->GetAllocator(allocator);
    if (SUCCEEDED(result)) {
        result = SizeAllocator(*allocator, &request);
        if (SUCCEEDED(result)) {
            result = input->NotifyAllocator(*allocator, FALSE);
            if (SUCCEEDED(result)) return S_OK;
        }
    }
    ReleaseAndClear(allocator);

    result = CreateDefaultAllocator(allocator);
    if (SUCCEEDED(result)) {
        result = SizeAllocator(*allocator, &request);
        if (SUCCEEDED(result)) {
            result = input->NotifyAllocator(*allocator, FALSE);
            if (SUCCEEDED(result)) return S_OK;
        }
    }
    ReleaseAndClear(allocator);
    return result;
}

HRESULT CBaseOutputPin::ObtainDeliveryBuffer(IMediaSample** sample, REFERENCE_TIME* start, REFERENCE_TIME* stop,
                                             DWORD flags) {
    return Allocator ? Allocator->GetBuffer(sample, start, stop, flags) : E_NOINTERFACE;
}

HRESULT CBaseOutputPin::SendSample(IMediaSample* sample) {
    return InputPin ? InputPin->Receive(sample) : VFW_E_NOT_CONNECTED;
}

HRESULT CBaseOutputPin::CreateDefaultAllocator(IMemAllocator** allocator) {
    return CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                            reinterpret_cast<void**>(allocator));
}

HRESULT CBaseOutputPin::SendEndOfStream() {
    return ConnectedPin ? ConnectedPin->EndOfStream() : VFW_E_NOT_CONNECTED;
}

HRESULT CBaseOutputPin::SendBeginFlush() {
    return ConnectedPin ? ConnectedPin->BeginFlush() : VFW_E_NOT_CONNECTED;
}

HRESULT CBaseOutputPin::SendEndFlush() {
    return ConnectedPin ? ConnectedPin->EndFlush() : VFW_E_NOT_CONNECTED;
}

HRESULT CBaseOutputPin::SendNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) {
    return ConnectedPin ? ConnectedPin->NewSegment(start, stop, rate) : VFW_E_NOT_CONNECTED;
}

HRESULT STDMETHODCALLTYPE CBaseOutputPin::EndOfStream() {
    return E_UNEXPECTED;
}

HRESULT STDMETHODCALLTYPE CBaseOutputPin::BeginFlush() {
    return E_UNEXPECTED;
}

HRESULT STDMETHODCALLTYPE CBaseOutputPin::EndFlush() {
    return E_UNEXPECTED;
}
