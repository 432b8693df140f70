// An output pin for tests: offers a fixed list of types, accepts the types a
// test allows, and succeeds or fails its state and connection hooks on demand.
// Owned by a TestFilter; used on the testing thread (and by the filter graph's
// threads under the filter lock).
#pragma once

#include "framework/BasePin.h"

#include <vector>

class TestFilter;

class TestPin : public CBasePin {
public:
    TestPin(TestFilter* filter, CCritLock* lock, const wchar_t* name, PIN_DIRECTION direction = PINDIR_OUTPUT);

    HRESULT Activate() override;
    HRESULT OnFilterPause() override;
    HRESULT Deactivate() override;
    HRESULT OnFilterRun(REFERENCE_TIME start) override;
    HRESULT VerifyMediaType(const CMediaFormat* type) override;
    HRESULT TearDownConnection() override;
    HRESULT FinishConnection(IPin* peer) override;
    HRESULT ProposeMediaType(int position, CMediaFormat* type) override;

    HRESULT STDMETHODCALLTYPE QueryId(LPWSTR* id) override;
    HRESULT STDMETHODCALLTYPE EndOfStream() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE BeginFlush() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE EndFlush() override { return S_OK; }

    // Marks the pin connected to peer without negotiation (one reference held).
    void AttachPeer(IPin* peer);
    void BumpTypeListVersion() { ++TypeListVersion; }
    void SetTryOwnTypesFirst(bool own) { TryOwnTypesFirst = own ? 1 : 0; }

    std::vector<CMediaFormat> Offered;
    // Types VerifyMediaType accepts (by Equals); empty accepts every type.
    std::vector<CMediaFormat> Accepted;
    HRESULT RefusalCode = S_FALSE;
    HRESULT ActivateResult = S_OK;
    HRESULT DeactivateResult = S_OK;
    HRESULT RunResult = S_OK;
    HRESULT FinishResult = S_OK;
    int ActivateCalls = 0;
    int PauseCalls = 0;
    int DeactivateCalls = 0;
    int RunCalls = 0;
    int TearDownCalls = 0;
    int VerifyCalls = 0;
    REFERENCE_TIME LastRunStart = -1;
};
