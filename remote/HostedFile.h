// The media file as the helper runs it: the reader itself, its picture pool
// in shared sections, and a copy out that the module makes: a picture read
// asks the module, over the lane the read came on, to copy the picture
// straight from the pool into its downstream sample.
//
// Threads and locks: CKXFile's; CopyOut runs on a lane's thread with no
// lock of the reader held, as the in-process copy does.
#pragma once

#include "reader/KXFile.h"

class CHostServer;
class CSectionPictureMemory;

class CHostedFile : public CKXFile {
public:
    // Uses the production library; memory and server outlive the file.
    CHostedFile(CSectionPictureMemory* memory, CHostServer* server);

protected:
    bool CopyOut(uint8_t* destination, int32_t capacity, const uint8_t* picture, int32_t length, int32_t width,
                 int32_t height, int32_t stride, int32_t remaining) override;

private:
    CHostServer* const Server;
};
