#include "remote/HostedFile.h"

#include "reader/PlayLibrary.h"
#include "remote/HostServer.h"
#include "remote/SectionPictureMemory.h"

CHostedFile::CHostedFile(CSectionPictureMemory* memory, CHostServer* server)
    : CKXFile(CPlayLibrary::Shared().Api(), WaitLimits(), memory), Server(server) {}

bool CHostedFile::CopyOut(uint8_t*, int32_t capacity, const uint8_t* picture, int32_t length, int32_t width,
                          int32_t height, int32_t stride, int32_t remaining) {
    return Server->CopyOutThroughLane(picture, length, width, height, stride, capacity, remaining);
}
