#include "shell/RecordingPropertyStore.h"

#include "common/KXPlayApi.h"
#include "framework/ScopedLock.h"
#include "shell/BoundedWork.h"
#include "shell/ShellPropertyKeys.h"
#include "shell/ShellRecording.h"

#include <mmsystem.h>

#include <memory>
#include <new>
#include <string>

namespace {

// The only sound the playback library delivers: 8 kHz mono.
constexpr ULONG SoundRate = KX_PCM_RATE;
constexpr ULONG SoundChannels = 1;

PROPVARIANT Whole32(ULONG number) {
    PROPVARIANT value;
    PropVariantInit(&value);
    value.vt = VT_UI4;
    value.ulVal = number;
    return value;
}

PROPVARIANT Whole64(ULONGLONG number) {
    PROPVARIANT value;
    PropVariantInit(&value);
    value.vt = VT_UI8;
    value.uhVal.QuadPart = number;
    return value;
}

}  // namespace

CUnknown* CreateRecordingPropertyStore(IUnknown* outer, HRESULT* result) {
    CRecordingPropertyStore* store = new (std::nothrow) CRecordingPropertyStore(outer);
    if (!store) *result = E_OUTOFMEMORY;
    return store;
}

CRecordingPropertyStore::CRecordingPropertyStore(IUnknown* outer) : CUnknown("recording property store", outer) {}

CRecordingPropertyStore::~CRecordingPropertyStore() = default;

HRESULT STDMETHODCALLTYPE CRecordingPropertyStore::InnerQueryInterface(REFIID id, void** out) {
    if (!out) return E_POINTER;
    if (IsEqualIID(id, __uuidof(IPropertyStore))) return HandOutInterface(static_cast<IPropertyStore*>(this), out);
    if (IsEqualIID(id, __uuidof(IInitializeWithFile))) return HandOutInterface(static_cast<IInitializeWithFile*>(this), out);
    if (IsEqualIID(id, __uuidof(IPropertyStoreCapabilities))) {
        return HandOutInterface(static_cast<IPropertyStoreCapabilities*>(this), out);
    }
    return CUnknown::InnerQueryInterface(id, out);
}

HRESULT STDMETHODCALLTYPE CRecordingPropertyStore::Initialize(LPCWSTR path, DWORD mode) {
    if (!path || !*path) return E_INVALIDARG;
    if ((mode & (STGM_WRITE | STGM_READWRITE)) != 0) return STG_E_ACCESSDENIED;
    {
        CScopedLock hold(&StoreLock);
        if (Initialised) return HRESULT_FROM_WIN32(ERROR_ALREADY_INITIALIZED);
    }
    std::shared_ptr<RecordingFacts> facts;
    std::wstring file;
    try {
        facts = std::make_shared<RecordingFacts>();
        file = path;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    const HRESULT read = CBoundedWork::Run(
        [facts, file]() -> HRESULT {
            try {
                CShellRecording recording;
                HRESULT hr = recording.Open(file.c_str());
                if (SUCCEEDED(hr)) hr = recording.ProbeSound();
                if (SUCCEEDED(hr)) *facts = recording.Facts();
                return hr;
            } catch (const std::bad_alloc&) {
                return E_OUTOFMEMORY;
            }
        },
        PropertiesLimitMs);
    if (FAILED(read)) return read;

    CScopedLock hold(&StoreLock);
    if (Initialised) return HRESULT_FROM_WIN32(ERROR_ALREADY_INITIALIZED);
    try {
        Values = {
            {shellkeys::MediaDuration, Whole64(static_cast<ULONGLONG>(facts->DurationMs) * 10000)},
            {shellkeys::VideoFrameWidth, Whole32(static_cast<ULONG>(facts->Width))},
            {shellkeys::VideoFrameHeight, Whole32(static_cast<ULONG>(facts->Height))},
            {shellkeys::VideoFrameRate, Whole32(CShellRecording::FramesPerKilosecond(facts->FrameTotal, facts->DurationMs))},
            {shellkeys::VideoFourCC, Whole32(mmioFOURCC('Y', 'U', 'Y', '2'))},
        };
        if (facts->HasSound) {
            Values.push_back({shellkeys::AudioSampleRate, Whole32(SoundRate)});
            Values.push_back({shellkeys::AudioChannelCount, Whole32(SoundChannels)});
        }
    } catch (const std::bad_alloc&) {
        Values.clear();
        return E_OUTOFMEMORY;
    }
    Initialised = true;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CRecordingPropertyStore::GetCount(DWORD* count) {
    if (!count) return E_POINTER;
    CScopedLock hold(&StoreLock);
    *count = static_cast<DWORD>(Values.size());
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CRecordingPropertyStore::GetAt(DWORD index, PROPERTYKEY* key) {
    if (!key) return E_POINTER;
    CScopedLock hold(&StoreLock);
    if (index >= Values.size()) return E_INVALIDARG;
    *key = Values[index].Key;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CRecordingPropertyStore::GetValue(REFPROPERTYKEY key, PROPVARIANT* value) {
    if (!value) return E_POINTER;
    PropVariantInit(value);
    CScopedLock hold(&StoreLock);
    for (const Property& property : Values) {
        if (IsEqualGUID(property.Key.fmtid, key.fmtid) && property.Key.pid == key.pid) {
            *value = property.Value;
            return S_OK;
        }
    }
    // A property the recording does not have is empty, not an error.
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CRecordingPropertyStore::SetValue(REFPROPERTYKEY, REFPROPVARIANT) {
    return STG_E_ACCESSDENIED;
}

HRESULT STDMETHODCALLTYPE CRecordingPropertyStore::Commit() {
    return STG_E_ACCESSDENIED;
}

HRESULT STDMETHODCALLTYPE CRecordingPropertyStore::IsPropertyWritable(REFPROPERTYKEY) {
    return S_FALSE;
}
