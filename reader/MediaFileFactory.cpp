// The 32-bit module reads its recordings in process.
#include "reader/IMediaFile.h"
#include "reader/KXFile.h"

#include <new>

std::unique_ptr<IMediaFile> CreateMediaFile() {
    return std::unique_ptr<IMediaFile>(new (std::nothrow) CKXFile());
}
