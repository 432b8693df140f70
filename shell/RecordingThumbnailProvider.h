// The Explorer thumbnail of a recording: the picture a tenth of the way in,
// scaled to the size asked for with its aspect kept, as a 32-bit top-down
// bitmap. The shell initialises it with the file's path (the playback
// library opens files by path, so the provider needs DisableProcessIsolation
// and registers no stream initialisation).
//
// Threads: the shell calls Initialize and GetThumbnail on its thread, one
// call at a time as a rule; PathLock guards Path all the same. The reading
// runs on a bounded worker (CBoundedWork): a recording, library or helper that
// fails or hangs gives a failure within ThumbnailLimitMs. Owns the path;
// reaches the recording only inside GetThumbnail.
#pragma once

#include "framework/CritLock.h"
#include "framework/Unknown.h"

#include <propsys.h>
#include <thumbcache.h>

#include <string>

class CRecordingThumbnailProvider : public CUnknown, public IThumbnailProvider, public IInitializeWithFile {
public:
    static constexpr DWORD ThumbnailLimitMs = 5000;

    explicit CRecordingThumbnailProvider(IUnknown* outer);
    ~CRecordingThumbnailProvider() override;

    KX_FORWARD_UNKNOWN_TO_OUTER
    HRESULT STDMETHODCALLTYPE InnerQueryInterface(REFIID id, void** out) override;

    // IInitializeWithFile: once; read access only.
    HRESULT STDMETHODCALLTYPE Initialize(LPCWSTR path, DWORD mode) override;
    // IThumbnailProvider: the longer side is size pixels (1 to 4096).
    HRESULT STDMETHODCALLTYPE GetThumbnail(UINT size, HBITMAP* bitmap, WTS_ALPHATYPE* alpha) override;

private:
    CCritLock PathLock;
    std::wstring Path;   // guarded by PathLock; empty until Initialize
};

// The factory table's creation function.
CUnknown* CreateRecordingThumbnailProvider(IUnknown* outer, HRESULT* result);
