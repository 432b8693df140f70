// CMediaFormat: an AM_MEDIA_TYPE that owns its format block (task memory) and
// the reference in pUnk, copies deeply and frees what it owns. It adds no
// fields, so it can stand wherever an AM_MEDIA_TYPE is expected. Not locked:
// the owner of an instance guards it.
//
// The free functions apply the same ownership rules to bare records that
// cross interfaces.
#pragma once

#include <windows.h>
#include <strmif.h>

// All fields zero, lSampleSize 1, bFixedSizeSamples TRUE; frees nothing.
void ResetMediaType(AM_MEDIA_TYPE* record);
// Overwrites target (without freeing it) with a deep copy of source.
// E_OUTOFMEMORY leaves target without a format block but holding its own pUnk
// reference, so a later ClearMediaType stays balanced.
HRESULT CopyMediaTypeDeep(AM_MEDIA_TYPE* target, const AM_MEDIA_TYPE* source);
// Frees the format block and releases pUnk.
void ClearMediaType(AM_MEDIA_TYPE* record);
// ClearMediaType, then frees the task-allocated record itself; null is ignored.
void FreeMediaTypeBlock(AM_MEDIA_TYPE* record);

class CMediaFormat : public AM_MEDIA_TYPE {
public:
    CMediaFormat();
    CMediaFormat(const CMediaFormat& other);
    explicit CMediaFormat(const AM_MEDIA_TYPE& other);
    ~CMediaFormat();

    CMediaFormat& operator=(const CMediaFormat& other);
    CMediaFormat& operator=(const AM_MEDIA_TYPE& other);

    HRESULT AssignFrom(const AM_MEDIA_TYPE& source);
    BOOL Equals(const AM_MEDIA_TYPE& other) const;
    BOOL MatchesPattern(const AM_MEDIA_TYPE& pattern) const;
    BOOL IsIncomplete() const;

    void PutMajorType(const GUID& type) { majortype = type; }
    void PutSubtype(const GUID& type) { subtype = type; }
    void PutFormatType(const GUID& type) { formattype = type; }
    // 0 marks the samples variable-sized and keeps lSampleSize.
    void PutSampleSize(ULONG size);
    void MarkVariableSize() { bFixedSizeSamples = FALSE; }
    // A block of exactly length bytes (contents undefined), or null; when a
    // new block cannot be allocated but the current one is at least as long,
    // the current one.
    BYTE* EnsureFormatBlock(ULONG length);
    BOOL PutFormatBlock(const BYTE* bytes, ULONG length);

private:
    void ClearFormatBlockOnly();
};
