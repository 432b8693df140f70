// The stand-in playback library alone: a recording decoded as fast as the
// library can, into a callback that only counts, so that the library's share
// of the module's time is visible. Owns the library's load reference and the
// open handle of one run.
//
// Threads: Run on the bench's thread; the callback on the library's decoding
// thread (counts are atomics, the end is an event).
#pragma once

#include "common/KXPlayApi.h"

#include <atomic>
#include <cstdint>
#include <string>

class CLibraryDecodeRun {
public:
    CLibraryDecodeRun();
    ~CLibraryDecodeRun();
    CLibraryDecodeRun(const CLibraryDecodeRun&) = delete;
    CLibraryDecodeRun& operator=(const CLibraryDecodeRun&) = delete;

    // Decodes the whole recording of the given picture count; the seconds
    // from Play to the last picture. False on any failure or after timeoutMs.
    bool Run(const std::wstring& recording, uint32_t pictures, DWORD timeoutMs, double* seconds);

private:
    static void KX_PLAY_CALL Callback(long, char* data, long length, FrameInfo* info, void* user, long);

    HMODULE Library = nullptr;
    KXPlayApi Api{};
    bool Resolved = false;
    HANDLE Done = nullptr;
    std::atomic<uint32_t> Pictures{0};
    uint32_t Expected = 0;
};
