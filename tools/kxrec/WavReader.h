// Reads the sound of a RIFF WAVE file: only 8000 Hz mono 16-bit PCM is
// accepted. Chunk sizes from the file are checked against the file's size.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kxrec {

class CWavReader {
public:
    // Reads every sample of the file; false with LastError set otherwise.
    bool Read(const std::wstring& path);

    const std::vector<int16_t>& Samples() const { return Data; }
    const std::string& LastError() const { return Error; }

private:
    bool Fail(const std::string& message);

    std::vector<int16_t> Data;
    std::string Error;
};

}  // namespace kxrec
