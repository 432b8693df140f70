// The 64-bit module reads its recordings through a helper process.
#include "reader/IMediaFile.h"
#include "remote/KXFileProxy.h"

#include <new>

std::unique_ptr<IMediaFile> CreateMediaFile() {
    return std::unique_ptr<IMediaFile>(new (std::nothrow) CKXFileProxy());
}
