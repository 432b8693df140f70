#include "tools/kxrec/Y4mReader.h"

#include "recording/RecordingFormat.h"

#include <cstdlib>
#include <sstream>

namespace kxrec {

namespace {

constexpr size_t MaxLineBytes = 1024;

bool ParseNumber(const std::string& text, uint32_t* value) {
    if (text.empty() || text.size() > 9) return false;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
    }
    *value = static_cast<uint32_t>(strtoul(text.c_str(), nullptr, 10));
    return true;
}

}  // namespace

CY4mReader::~CY4mReader() {
    if (File != nullptr) fclose(File);
}

bool CY4mReader::Fail(const std::string& message) {
    Error = message;
    return false;
}

bool CY4mReader::ReadLine(std::string& line) {
    line.clear();
    for (;;) {
        const int c = fgetc(File);
        if (c == EOF) return false;
        if (c == '\n') return true;
        if (line.size() >= MaxLineBytes) return false;
        line.push_back(static_cast<char>(c));
    }
}

bool CY4mReader::Open(const std::wstring& path) {
    File = _wfopen(path.c_str(), L"rb");
    if (File == nullptr) return Fail("cannot open the Y4M file");
    std::string line;
    if (!ReadLine(line)) return Fail("Y4M file has no stream header");
    std::istringstream tokens(line);
    std::string token;
    tokens >> token;
    if (token != "YUV4MPEG2") return Fail("not a YUV4MPEG2 file");
    while (tokens >> token) {
        const std::string value = token.substr(1);
        switch (token[0]) {
        case 'W':
            if (!ParseNumber(value, &PictureWidth)) return Fail("Y4M width is not a number");
            break;
        case 'H':
            if (!ParseNumber(value, &PictureHeight)) return Fail("Y4M height is not a number");
            break;
        case 'F': {
            const size_t colon = value.find(':');
            if (colon == std::string::npos || !ParseNumber(value.substr(0, colon), &RateNum) ||
                !ParseNumber(value.substr(colon + 1), &RateDen)) {
                return Fail("Y4M frame rate is not N:D");
            }
            break;
        }
        case 'C':
            if (value == "422") {
                Chroma422 = true;
            } else if (value.compare(0, 3, "420") != 0) {
                return Fail("Y4M chroma " + value + " is not supported (only 4:2:0 and 4:2:2)");
            }
            break;
        default:
            break;  // interlacing, aspect and comments do not change the conversion
        }
    }
    if (PictureWidth == 0 || PictureHeight == 0 || PictureWidth > MaxPictureWidth ||
        PictureHeight > MaxPictureHeight) {
        return Fail("Y4M picture size missing or beyond 4096x4096");
    }
    if (PictureWidth % 2 != 0) return Fail("Y4M picture width must be even for YUY2");
    if (RateNum == 0 || RateDen == 0 || RateNum / RateDen > MaxFrameRate) {
        return Fail("Y4M frame rate missing or out of range");
    }
    return true;
}

int CY4mReader::ReadPicture(std::vector<uint8_t>& yuy2) {
    std::string line;
    if (!ReadLine(line)) {
        if (line.empty() && feof(File)) return 0;
        Fail("Y4M picture header is damaged");
        return -1;
    }
    if (line.compare(0, 5, "FRAME") != 0) {
        Fail("Y4M picture does not start with FRAME");
        return -1;
    }
    const size_t w = PictureWidth;
    const size_t h = PictureHeight;
    const size_t cw = w / 2;
    const size_t ch = Chroma422 ? h : (h + 1) / 2;
    Planes.resize(w * h + 2 * cw * ch);
    if (fread(Planes.data(), 1, Planes.size(), File) != Planes.size()) {
        Fail("Y4M picture is cut short");
        return -1;
    }
    const uint8_t* luma = Planes.data();
    const uint8_t* cb = luma + w * h;
    const uint8_t* cr = cb + cw * ch;
    yuy2.resize(w * h * 2);
    uint8_t* out = yuy2.data();
    for (size_t y = 0; y < h; ++y) {
        const size_t cy = Chroma422 ? y : y / 2;
        const uint8_t* ly = luma + y * w;
        const uint8_t* uy = cb + cy * cw;
        const uint8_t* vy = cr + cy * cw;
        for (size_t x = 0; x < cw; ++x) {
            *out++ = ly[2 * x];
            *out++ = uy[x];
            *out++ = ly[2 * x + 1];
            *out++ = vy[x];
        }
    }
    return 1;
}

}  // namespace kxrec
