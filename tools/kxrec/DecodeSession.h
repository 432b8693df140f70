// Plays a recording through the playback library the way the filter does:
// loads the library at run time, opens the file with a hidden window for its
// notices, installs a decode callback, plays, and runs a message loop until
// the end-of-file notice arrives or the time limit passes. Every delivered
// picture and piece of sound is checked against the test patterns.
//
// Run is called on one thread, which owns the window and the message loop;
// the library's decoding thread calls the callback, which updates the report
// under Lock.
#pragma once

#include "common/KXPlayApi.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace kxrec {

struct DecodeReport {
    bool infoReceived = false;        // 1178 arrived
    LONG totalFrames = -1;            // read after 1178
    DWORD durationMs = 0;             // read after 1178
    bool endReceived = false;         // 1124 arrived
    uint32_t pictures = 0;
    // Runs of consecutive pictures of one size: (width, height), count.
    std::vector<std::pair<std::pair<int32_t, int32_t>, uint32_t>> sizeRuns;
    uint32_t testPictures = 0;        // pictures that check as whole test pictures
    bool testPicturesInOrder = true;  // their frame numbers count up by one
    uint64_t soundBytes = 0;
    uint32_t soundPieces = 0;
    uint32_t tonePieces = 0;          // pieces that check as test tone
    bool toneContiguous = true;       // each tone piece continues the previous one
    uint32_t firstToneSample = 0;
};

class CDecodeSession {
public:
    // False with LastError set when the library or the recording cannot be
    // opened; otherwise true, with whatever arrived in *report.
    bool Run(const std::wstring& libraryPath, const std::wstring& recording, DWORD timeoutMs,
             DecodeReport* report);

    const std::string& LastError() const { return Error; }

private:
    std::string Error;
};

}  // namespace kxrec
