// The time Explorer waits for a recording's thumbnail from a cold start of
// the module: each round is a child process of its own that loads the
// module beside the bench, creates its thumbnail provider through the class
// factory, initialises it with a 1920x1080 recording and asks for 256
// pixels. The child reports the milliseconds from LoadLibrary to the bitmap;
// the parent adds the process start around it. Used on the bench's main
// thread.
#pragma once

#include <string>

class CThumbnailRun {
public:
    // Rounds children one after the other; prints the figures. 0 when every
    // round gave a thumbnail.
    static int Measure(int rounds, bool smoke);
    // The child's side: "--thumbnail-child RECORDING"; the tenths of a
    // millisecond it took as its exit code, or the failing HRESULT.
    static int Child(const std::wstring& recording);
};
