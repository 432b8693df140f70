// One unclocked run of the module's Media Foundation path, as the bench sets
// it beside the DirectShow graph: the byte-stream handler from the module's
// own class factory (no registration) opens the recording, and the source
// reader reads every sample of both streams as fast as they come. MF is
// started for the object's life; used on the bench's main thread.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

class CMfReaderRun {
public:
    CMfReaderRun();
    ~CMfReaderRun();
    CMfReaderRun(const CMfReaderRun&) = delete;
    CMfReaderRun& operator=(const CMfReaderRun&) = delete;

    // From the handler's BeginCreateObject to the end of both streams: the
    // seconds and the pictures read. S_OK, or the first failure.
    HRESULT Run(HMODULE module, const std::wstring& recording, DWORD timeoutMs, double* seconds, uint32_t* pictures);

private:
    bool Started = false;
};
