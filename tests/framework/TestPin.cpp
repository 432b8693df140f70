#include "TestPin.h"

#include "TestFilter.h"

#include <objbase.h>
#include <vfwmsgs.h>

TestPin::TestPin(TestFilter* filter, CCritLock* lock, const wchar_t* name, PIN_DIRECTION direction)
    : CBasePin("test pin", filter, lock, nullptr, name, direction) {}

HRESULT TestPin::Activate() {
    ++ActivateCalls;
    return ActivateResult;
}

HRESULT TestPin::OnFilterPause() {
    ++PauseCalls;
    return S_OK;
}

HRESULT TestPin::Deactivate() {
    ++DeactivateCalls;
    return DeactivateResult;
}

HRESULT TestPin::OnFilterRun(REFERENCE_TIME start) {
    ++RunCalls;
    LastRunStart = start;
    return RunResult;
}

HRESULT TestPin::VerifyMediaType(const CMediaFormat* type) {
    ++VerifyCalls;
    if (Accepted.empty()) {
        return S_OK;
    }
    for (const CMediaFormat& accepted : Accepted) {
        if (accepted.Equals(*type)) {
            return S_OK;
        }
    }
    return RefusalCode;
}

HRESULT TestPin::TearDownConnection() {
    ++TearDownCalls;
    return S_OK;
}

HRESULT TestPin::FinishConnection(IPin*) {
    return FinishResult;
}

HRESULT TestPin::ProposeMediaType(int position, CMediaFormat* type) {
    if (position < 0 || position >= static_cast<int>(Offered.size())) {
        return VFW_S_NO_MORE_ITEMS;
    }
    return type->AssignFrom(Offered[position]);
}

HRESULT STDMETHODCALLTYPE TestPin::QueryId(LPWSTR* id) {
    if (!id) {
        return E_POINTER;
    }
    *id = static_cast<LPWSTR>(CoTaskMemAlloc(2 * sizeof(wchar_t)));
    if (!*id) {
        return E_OUTOFMEMORY;
    }
    (*id)[0] = L'1';
    (*id)[1] = L'\0';
    return S_OK;
}

void TestPin::AttachPeer(IPin* peer) {
    peer->AddRef();
    ConnectedPin = peer;
}
