#include "tools/kxrec/WavReader.h"

#include "recording/RecordingFormat.h"

#include <cstdio>
#include <cstring>
#include <memory>

namespace kxrec {

namespace {

struct FileCloser {
    void operator()(FILE* f) const { fclose(f); }
};

uint32_t Le32(const uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

uint16_t Le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

}  // namespace

bool CWavReader::Fail(const std::string& message) {
    Error = message;
    return false;
}

bool CWavReader::Read(const std::wstring& path) {
    Data.clear();
    std::unique_ptr<FILE, FileCloser> file(_wfopen(path.c_str(), L"rb"));
    if (!file) return Fail("cannot open the WAV file");
    if (_fseeki64(file.get(), 0, SEEK_END) != 0) return Fail("cannot read the WAV file");
    const long long size = _ftelli64(file.get());
    if (size < 12 || _fseeki64(file.get(), 0, SEEK_SET) != 0) return Fail("WAV file is too short");
    uint8_t riff[12];
    if (fread(riff, 1, 12, file.get()) != 12 || memcmp(riff, "RIFF", 4) != 0 ||
        memcmp(riff + 8, "WAVE", 4) != 0) {
        return Fail("not a RIFF WAVE file");
    }
    bool haveFormat = false;
    long long offset = 12;
    while (offset + 8 <= size) {
        uint8_t chunk[8];
        if (_fseeki64(file.get(), offset, SEEK_SET) != 0 || fread(chunk, 1, 8, file.get()) != 8) break;
        const uint32_t bytes = Le32(chunk + 4);
        if (offset + 8 + static_cast<long long>(bytes) > size) return Fail("WAV chunk runs past the end of the file");
        if (memcmp(chunk, "fmt ", 4) == 0) {
            uint8_t fmt[16];
            if (bytes < 16 || fread(fmt, 1, 16, file.get()) != 16) return Fail("WAV format chunk is too short");
            if (Le16(fmt) != 1 || Le16(fmt + 2) != 1 || Le32(fmt + 4) != kxrec::SoundRate || Le16(fmt + 14) != 16) {
                return Fail("WAV sound must be PCM 8000 Hz mono 16-bit");
            }
            haveFormat = true;
        } else if (memcmp(chunk, "data", 4) == 0) {
            if (!haveFormat) return Fail("WAV data comes before its format");
            if (bytes % 2 != 0) return Fail("WAV data is not whole 16-bit samples");
            Data.resize(bytes / 2);
            if (bytes != 0 && fread(Data.data(), 1, bytes, file.get()) != bytes) return Fail("cannot read the WAV data");
            return true;
        }
        offset += 8 + bytes + (bytes & 1);
    }
    return Fail(haveFormat ? "WAV file has no data chunk" : "WAV file has no format chunk");
}

}  // namespace kxrec
