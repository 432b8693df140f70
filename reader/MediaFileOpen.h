// Opening a recording for a front (the source filter's Load, the Media
// Foundation source's creation): the open and the waits for what the media
// types and seeking need, the first picture's size and the duration, with
// one set of failure codes for every front. Called on the opening thread;
// may wait as GetVideoSize and GetDurationMs do.
#pragma once

#include "reader/IMediaFile.h"

// S_OK; E_OUTOFMEMORY without a file object or a picture size; E_FAIL for a
// null path or a file the library refuses; VFW_E_TIMEOUT when the library
// tells no duration. A file that failed for good (the 64-bit module's
// helper) gives its own fault instead.
HRESULT OpenMediaFile(IMediaFile* file, const wchar_t* path);
