#include "framework/MediaFormat.h"

#include <cstring>

#include <objbase.h>

void ResetMediaType(AM_MEDIA_TYPE* record) {
    std::memset(record, 0, sizeof(*record));
    record->lSampleSize = 1;
    record->bFixedSizeSamples = TRUE;
}

HRESULT CopyMediaTypeDeep(AM_MEDIA_TYPE* target, const AM_MEDIA_TYPE* source) {
    *target = *source;
    HRESULT result = S_OK;
    if (source->cbFormat != 0) {
        target->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(source->cbFormat));
        if (!target->pbFormat) {
            target->cbFormat = 0;
            result = E_OUTOFMEMORY;
        } else {
            std::memcpy(target->pbFormat, source->pbFormat, source->cbFormat);
        }
    } else {
        target->pbFormat = nullptr;
    }
    if (target->pUnk) {
        target->pUnk->AddRef();
    }
    return result;
}

void ClearMediaType(AM_MEDIA_TYPE* record) {
    if (record->cbFormat != 0) {
        CoTaskMemFree(record->pbFormat);
        record->cbFormat = 0;
        record->pbFormat = nullptr;
    }
    if (record->pUnk) {
        record->pUnk->Release();
        record->pUnk = nullptr;
    }
}

void FreeMediaTypeBlock(AM_MEDIA_TYPE* record) {
    if (!record) {
        return;
    }
    ClearMediaType(record);
    CoTaskMemFree(record);
}

namespace {

bool SameBlocks(const AM_MEDIA_TYPE& a, const AM_MEDIA_TYPE& b) {
    return a.cbFormat == b.cbFormat &&
           (a.cbFormat == 0 || std::memcmp(a.pbFormat, b.pbFormat, a.cbFormat) == 0);
}

}  // namespace

CMediaFormat::CMediaFormat() : AM_MEDIA_TYPE() {
    ResetMediaType(this);
}

CMediaFormat::CMediaFormat(const CMediaFormat& other) : CMediaFormat() {
    AssignFrom(other);
}

CMediaFormat::CMediaFormat(const AM_MEDIA_TYPE& other) : CMediaFormat() {
    AssignFrom(other);
}

CMediaFormat::~CMediaFormat() {
    ClearMediaType(this);
}

CMediaFormat& CMediaFormat::operator=(const CMediaFormat& other) {
    AssignFrom(other);
    return *this;
}

CMediaFormat& CMediaFormat::operator=(const AM_MEDIA_TYPE& other) {
    AssignFrom(other);
    return *this;
}

HRESULT CMediaFormat::AssignFrom(const AM_MEDIA_TYPE& source) {
    if (&source == static_cast<const AM_MEDIA_TYPE*>(this)) {
        return S_OK;
    }
    ClearMediaType(this);
    return FAILED(CopyMediaTypeDeep(this, &source)) ? E_OUTOFMEMORY : S_OK;
}

BOOL CMediaFormat::Equals(const AM_MEDIA_TYPE& other) const {
    return IsEqualGUID(majortype, other.majortype) && IsEqualGUID(subtype, other.subtype) &&
           IsEqualGUID(formattype, other.formattype) && SameBlocks(*this, other);
}

BOOL CMediaFormat::MatchesPattern(const AM_MEDIA_TYPE& pattern) const {
    if (!IsEqualGUID(pattern.majortype, GUID_NULL) && !IsEqualGUID(pattern.majortype, majortype)) {
        return FALSE;
    }
    if (!IsEqualGUID(pattern.subtype, GUID_NULL) && !IsEqualGUID(pattern.subtype, subtype)) {
        return FALSE;
    }
    if (IsEqualGUID(pattern.formattype, GUID_NULL)) {
        return TRUE;
    }
    return IsEqualGUID(pattern.formattype, formattype) && SameBlocks(*this, pattern);
}

BOOL CMediaFormat::IsIncomplete() const {
    return IsEqualGUID(majortype, GUID_NULL) || IsEqualGUID(formattype, GUID_NULL);
}

void CMediaFormat::PutSampleSize(ULONG size) {
    if (size == 0) {
        MarkVariableSize();
        return;
    }
    bFixedSizeSamples = TRUE;
    lSampleSize = size;
}

BYTE* CMediaFormat::EnsureFormatBlock(ULONG length) {
    if (length == cbFormat) {
        return pbFormat;
    }
    if (length == 0) {
        // A zero-length block would be owned by a record that, by its
        // invariant, owns nothing, and so would leak.
        ClearFormatBlockOnly();
        return nullptr;
    }
    BYTE* block = static_cast<BYTE*>(CoTaskMemAlloc(length));
    if (!block) {
        return cbFormat >= length ? pbFormat : nullptr;
    }
    if (cbFormat != 0) {
        CoTaskMemFree(pbFormat);
    }
    cbFormat = length;
    pbFormat = block;
    return block;
}

void CMediaFormat::ClearFormatBlockOnly() {
    CoTaskMemFree(pbFormat);
    cbFormat = 0;
    pbFormat = nullptr;
}

BOOL CMediaFormat::PutFormatBlock(const BYTE* bytes, ULONG length) {
    BYTE* block = EnsureFormatBlock(length);
    if (!block) {
        return FALSE;
    }
    std::memcpy(block, bytes, length);
    return TRUE;
}
