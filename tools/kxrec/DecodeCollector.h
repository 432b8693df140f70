// Collects what the library's decoding thread delivers to the decode
// callback into a DecodeReport, checking each picture and piece of sound
// against the test patterns.
//
// Callback runs on the decoding thread; Snapshot on any thread. Lock guards
// every field; it is a leaf lock.
#pragma once

#include "tools/kxrec/DecodeSession.h"

namespace kxrec {

class CDecodeCollector {
public:
    CDecodeCollector();
    ~CDecodeCollector();
    CDecodeCollector(const CDecodeCollector&) = delete;
    CDecodeCollector& operator=(const CDecodeCollector&) = delete;

    // The decode callback; user is the collector.
    static void KX_PLAY_CALL Callback(long first, char* data, long length, FrameInfo* info, void* user, long last);

    // A copy of the report so far.
    DecodeReport Snapshot();

private:
    void Take(const uint8_t* data, long length, const FrameInfo& info);
    void TakePicture(const uint8_t* data, long length, const FrameInfo& info);
    void TakeSound(const uint8_t* data, long length);

    CRITICAL_SECTION Lock;
    DecodeReport Report;      // guarded by Lock
    uint32_t LastFrame = 0;   // guarded by Lock
    uint32_t NextSample = 0;  // guarded by Lock
};

}  // namespace kxrec
