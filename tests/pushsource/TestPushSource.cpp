#include "TestPushSource.h"

#include "framework/ScopedLock.h"

#include <uuids.h>
#include <vfwmsgs.h>

#include <cstring>
#include <new>

CTestPushStream::CTestPushStream(HRESULT* result, CTestPushSource* owner, const wchar_t* name)
    : CSourceStream("test push stream", result, owner, name),
      CSourceSeeking("test push seeking", static_cast<IPin*>(this), result, &StreamLock),
      SupplyEvent(CreateEventW(nullptr, FALSE, FALSE, nullptr), &CloseHandle),
      NoDataEvent(CreateEventW(nullptr, TRUE, FALSE, nullptr), &CloseHandle) {}

HRESULT STDMETHODCALLTYPE CTestPushStream::InnerQueryInterface(REFIID id, void** out) {
    if (!out) return E_POINTER;
    if (IsEqualGUID(id, IID_IMediaSeeking)) return CSourceSeeking::InnerQueryInterface(id, out);
    return CSourceStream::InnerQueryInterface(id, out);
}

HRESULT CTestPushStream::StreamMediaType(CMediaFormat* type) {
    type->PutMajorType(MEDIATYPE_KxTestNumbers);
    type->PutSubtype(MEDIASUBTYPE_None);
    type->PutFormatType(FORMAT_None);
    type->PutSampleSize(static_cast<ULONG>(Script.BufferSize));
    return S_OK;
}

HRESULT CTestPushStream::SizeAllocator(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) {
    if (SizingCalls++ == 0) FirstRequest = *request;
    LastSized = allocator;
    if (Script.RefuseSizing > 0) {
        --Script.RefuseSizing;
        return Script.RefusalCode;
    }
    request->cBuffers = Script.BufferCount;
    request->cbBuffer = Script.BufferSize;
    ALLOCATOR_PROPERTIES actual = {};
    const HRESULT result = allocator->SetProperties(request, &actual);
    if (FAILED(result)) return result;
    return actual.cbBuffer >= request->cbBuffer ? S_OK : E_FAIL;
}

HRESULT CTestPushStream::OnWorkerStart() {
    return Script.WorkerStartResult;
}

HRESULT CTestPushStream::OnPushStart() {
    REFERENCE_TIME start, stop;
    double rate;
    {
        CScopedLock hold(&StreamLock);
        NextNumber = static_cast<LONG>(StartPosition / TestSampleTime);
        start = StartPosition;
        stop = StopPosition;
        rate = SeekRate;
    }
    ++PushStarts;
    return SendNewSegment(start, stop, rate);
}

HANDLE CTestPushStream::DataWaitHandle() {
    return SupplyEvent.get();
}

void CTestPushStream::Supply(LONG count) {
    Budget += count;
    SetEvent(SupplyEvent.get());
}

bool CTestPushStream::WaitForNoDataAnswer(DWORD timeoutMs) {
    ResetEvent(NoDataEvent.get());
    return WaitForSingleObject(NoDataEvent.get(), timeoutMs) == WAIT_OBJECT_0;
}

HRESULT CTestPushStream::FillSample(IMediaSample* sample) {
    CScopedLock hold(&StreamLock);
    if (NextNumber >= Script.TotalSamples) return S_FALSE;
    if (NextNumber == Script.FailAt) return Script.FailCode;
    if (Script.Slow) {
        if (Budget.load() <= 0) {
            SetEvent(NoDataEvent.get());
            return S_NODATAYET;
        }
        --Budget;
    }
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    std::memcpy(data, &NextNumber, sizeof NextNumber);
    sample->SetActualDataLength(sizeof NextNumber);
    REFERENCE_TIME start = (NextNumber - StartPosition / TestSampleTime) * TestSampleTime;
    REFERENCE_TIME end = start + TestSampleTime;
    sample->SetTime(&start, &end);
    sample->SetSyncPoint(TRUE);
    ++NextNumber;
    ++Filled;
    return S_OK;
}

HRESULT CTestPushStream::OnStartChanged() {
    CScopedLock hold(OwnerFilter->GetFilterLock());
    if (!IsThreadRunning()) return S_OK;
    SendBeginFlush();
    SendRequest(CommandStop);
    SendEndFlush();
    SendRequest(CommandRun);
    ++Restarts;
    return S_OK;
}

HRESULT CTestPushStream::OnStopChanged() {
    return S_OK;
}

HRESULT CTestPushStream::OnRateChanged() {
    return S_OK;
}

CTestPushSource::CTestPushSource() : CSource("test push source", nullptr, CLSID_KxTestPushSource) {}

CTestPushSource* CTestPushSource::Create(int streams) {
    CTestPushSource* source = new (std::nothrow) CTestPushSource();
    if (!source) return nullptr;
    source->InnerAddRef();
    static const wchar_t* const Names[] = {L"Numbers 1", L"Numbers 2", L"Numbers 3"};
    for (int i = 0; i < streams && i < 3; ++i) {
        HRESULT result = S_OK;
        CTestPushStream* stream = new (std::nothrow) CTestPushStream(&result, source, Names[i]);
        if (!stream || FAILED(result)) {
            delete stream;
            source->InnerRelease();
            return nullptr;
        }
    }
    return source;
}
