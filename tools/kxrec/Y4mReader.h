// Reads a YUV4MPEG2 stream with 4:2:0 or 4:2:2 chroma, picture by picture,
// converting each to packed YUY2. Sizes and parameters from the file are
// checked against limits before any buffer is sized by them.
//
// Used by one thread; owns the open file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace kxrec {

class CY4mReader {
public:
    CY4mReader() = default;
    ~CY4mReader();
    CY4mReader(const CY4mReader&) = delete;
    CY4mReader& operator=(const CY4mReader&) = delete;

    // Opens the file and parses its stream header.
    bool Open(const std::wstring& path);

    uint32_t Width() const { return PictureWidth; }
    uint32_t Height() const { return PictureHeight; }
    uint32_t FpsNum() const { return RateNum; }
    uint32_t FpsDen() const { return RateDen; }

    // Reads the next picture into yuy2 (Width*Height*2 bytes). Returns 1 for a
    // picture, 0 at the clean end of the stream, -1 on a damaged stream.
    int ReadPicture(std::vector<uint8_t>& yuy2);

    const std::string& LastError() const { return Error; }

private:
    bool Fail(const std::string& message);
    bool ReadLine(std::string& line);

    FILE* File = nullptr;
    uint32_t PictureWidth = 0;
    uint32_t PictureHeight = 0;
    uint32_t RateNum = 0;
    uint32_t RateDen = 0;
    bool Chroma422 = false;
    std::vector<uint8_t> Planes;   // one picture as stored
    std::string Error;
};

}  // namespace kxrec
