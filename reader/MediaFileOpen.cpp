#include "reader/MediaFileOpen.h"

#include <vfwmsgs.h>

HRESULT OpenMediaFile(IMediaFile* file, const wchar_t* path) {
    if (!file) return E_OUTOFMEMORY;
    if (!path) return E_FAIL;
    auto failure = [file](HRESULT otherwise) { return FAILED(file->FaultCode()) ? file->FaultCode() : otherwise; };
    if (!file->OpenFile(path)) return failure(E_FAIL);
    int32_t width = 0, height = 0;
    if (!file->GetVideoSize(&width, &height) || width == 0 || height == 0) return failure(E_OUTOFMEMORY);
    if (file->GetDurationMs() == 0) return failure(VFW_E_TIMEOUT);
    return S_OK;
}
