#include "bench/AviWriter.h"

#include <cstring>

namespace {

constexpr uint32_t FourCc(const char (&c)[5]) {
    return static_cast<uint32_t>(static_cast<uint8_t>(c[0])) | static_cast<uint32_t>(static_cast<uint8_t>(c[1])) << 8 |
           static_cast<uint32_t>(static_cast<uint8_t>(c[2])) << 16 | static_cast<uint32_t>(static_cast<uint8_t>(c[3])) << 24;
}

constexpr uint32_t KeyFrameFlag = 0x10;
constexpr uint32_t HasIndexFlag = 0x10;
constexpr uint32_t MaxFileBytes = 1000u * 1000u * 1000u;

#pragma pack(push, 1)
struct MainHeader {
    uint32_t microSecPerFrame, maxBytesPerSec, paddingGranularity, flags, totalFrames, initialFrames, streams,
        suggestedBufferSize, width, height, reserved[4];
};
struct StreamHeader {
    uint32_t type, handler, flags;
    uint16_t priority, language;
    uint32_t initialFrames, scale, rate, start, length, suggestedBufferSize, quality, sampleSize;
    int16_t left, top, right, bottom;
};
struct IndexEntry {
    uint32_t chunkId, flags, offset, size;
};
#pragma pack(pop)
static_assert(sizeof(MainHeader) == 56 && sizeof(StreamHeader) == 56 && sizeof(BITMAPINFOHEADER) == 40,
              "AVI header layouts are fixed");

}  // namespace

CAviWriter::~CAviWriter() {
    if (File != INVALID_HANDLE_VALUE) CloseHandle(File);
}

bool CAviWriter::Write(const void* data, uint32_t bytes) {
    DWORD done = 0;
    if (!WriteFile(File, data, bytes, &done, nullptr) || done != bytes) return false;
    Written += bytes;
    return true;
}

bool CAviWriter::WriteAt(uint32_t offset, uint32_t value) {
    LARGE_INTEGER to;
    to.QuadPart = offset;
    DWORD done = 0;
    return SetFilePointerEx(File, to, nullptr, FILE_BEGIN) && WriteFile(File, &value, 4, &done, nullptr) && done == 4;
}

bool CAviWriter::Begin(const std::wstring& path, uint32_t width, uint32_t height, uint32_t fps, uint32_t frames) {
    FrameBytes = width * height * 2;
    FramesPlanned = frames;
    const uint64_t total = static_cast<uint64_t>(FrameBytes + 8) * frames + 16ull * frames + 4096;
    if (width == 0 || height == 0 || fps == 0 || frames == 0 || total > MaxFileBytes) return false;
    File = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (File == INVALID_HANDLE_VALUE) return false;
    FrameOffsets.reserve(frames);

    MainHeader main{};
    main.microSecPerFrame = 1000000 / fps;
    main.maxBytesPerSec = FrameBytes * fps;
    main.flags = HasIndexFlag;
    main.totalFrames = frames;
    main.streams = 1;
    main.suggestedBufferSize = FrameBytes + 8;
    main.width = width;
    main.height = height;
    StreamHeader stream{};
    stream.type = FourCc("vids");
    stream.handler = FourCc("YUY2");
    stream.scale = 1;
    stream.rate = fps;
    stream.length = frames;
    stream.suggestedBufferSize = FrameBytes;
    stream.quality = 0xFFFFFFFFu;
    stream.right = static_cast<int16_t>(width);
    stream.bottom = static_cast<int16_t>(height);
    BITMAPINFOHEADER format{};
    format.biSize = sizeof(format);
    format.biWidth = static_cast<LONG>(width);
    format.biHeight = static_cast<LONG>(height);
    format.biPlanes = 1;
    format.biBitCount = 16;
    format.biCompression = FourCc("YUY2");
    format.biSizeImage = FrameBytes;

    const uint32_t strlBytes = 4 + 8 + sizeof(stream) + 8 + sizeof(format);
    const uint32_t hdrlBytes = 4 + 8 + sizeof(main) + 8 + strlBytes;
    const uint32_t head[] = {FourCc("RIFF"), 0, FourCc("AVI "), FourCc("LIST"), hdrlBytes, FourCc("hdrl"),
                             FourCc("avih"), sizeof(main)};
    const uint32_t strl[] = {FourCc("LIST"), strlBytes, FourCc("strl"), FourCc("strh"), sizeof(stream)};
    const uint32_t strf[] = {FourCc("strf"), sizeof(format)};
    if (!Write(head, sizeof(head)) || !Write(&main, sizeof(main)) || !Write(strl, sizeof(strl)) ||
        !Write(&stream, sizeof(stream)) || !Write(strf, sizeof(strf)) || !Write(&format, sizeof(format))) {
        return false;
    }
    MoviListOffset = Position() + 4;
    const uint32_t movi[] = {FourCc("LIST"), 0, FourCc("movi")};
    return Write(movi, sizeof(movi));
}

bool CAviWriter::AddFrame(const uint8_t* yuy2) {
    if (File == INVALID_HANDLE_VALUE || FrameOffsets.size() >= FramesPlanned) return false;
    FrameOffsets.push_back(Position() - (MoviListOffset + 4));
    const uint32_t chunk[] = {FourCc("00db"), FrameBytes};
    return Write(chunk, sizeof(chunk)) && Write(yuy2, FrameBytes);
}

bool CAviWriter::Finish() {
    if (File == INVALID_HANDLE_VALUE || FrameOffsets.size() != FramesPlanned) return false;
    const uint32_t moviEnd = Position();
    std::vector<IndexEntry> index;
    index.reserve(FrameOffsets.size());
    for (uint32_t offset : FrameOffsets) index.push_back(IndexEntry{FourCc("00db"), KeyFrameFlag, offset, FrameBytes});
    const uint32_t indexBytes = static_cast<uint32_t>(index.size() * sizeof(IndexEntry));
    const uint32_t idx1[] = {FourCc("idx1"), indexBytes};
    const bool good = Write(idx1, sizeof(idx1)) && Write(index.data(), indexBytes) &&
                      WriteAt(MoviListOffset, moviEnd - (MoviListOffset + 4)) && WriteAt(4, Position() - 8);
    const bool closed = CloseHandle(File) != 0;
    File = INVALID_HANDLE_VALUE;
    return good && closed;
}
