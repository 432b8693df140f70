// A recording of test pictures and test tone written to a file of its own in
// the temporary folder for one test, and deleted when the object ends.
// Used on the test's thread only.
#pragma once

#include <cstdint>
#include <string>

class CRecordingFile {
public:
    // Pictures numbered from 0 at 1000/fps ms apart, and (when sound) the tone
    // over the whole duration, interleaved in time order.
    CRecordingFile(uint32_t width, uint32_t height, uint32_t fps, uint32_t durationMs, bool sound);
    // A file that is not a recording.
    explicit CRecordingFile(const char* junk);
    ~CRecordingFile();
    CRecordingFile(const CRecordingFile&) = delete;
    CRecordingFile& operator=(const CRecordingFile&) = delete;

    const wchar_t* Path() const { return FilePath.c_str(); }
    // Empty when the file was written, else what went wrong.
    const std::string& Error() const { return Problem; }

private:
    static std::wstring NewPath();

    std::wstring FilePath;
    std::string Problem;
};
