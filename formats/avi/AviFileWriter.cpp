#include "formats/avi/AviFileWriter.h"

#include <algorithm>
#include <cstring>

static_assert(sizeof(WAVEFORMATEX) == 18 && sizeof(BITMAPINFOHEADER) == 40, "AVI format chunk layouts are fixed");

namespace {

constexpr uint32_t FourCc(const char (&c)[5]) {
    return static_cast<uint32_t>(static_cast<uint8_t>(c[0])) | static_cast<uint32_t>(static_cast<uint8_t>(c[1])) << 8 |
           static_cast<uint32_t>(static_cast<uint8_t>(c[2])) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(c[3])) << 24;
}

constexpr uint32_t HasIndexFlag = 0x10;       // avih: idx1 present
constexpr uint32_t IsInterleavedFlag = 0x100; // avih: streams interleaved
constexpr uint32_t KeyFrameFlag = 0x10;       // idx1 entry
constexpr uint8_t IndexOfIndexes = 0;
constexpr uint8_t IndexOfChunks = 1;
constexpr uint32_t SuperHeaderBytes = 24;
constexpr uint32_t SuperEntryBytes = 16;
constexpr uint32_t StandardHeaderBytes = 24;
constexpr uint32_t StandardEntryBytes = 8;
constexpr uint32_t LegacyEntryBytes = 16;
constexpr uint32_t DmlhBytes = 248;
constexpr uint64_t LargestRiff = 0xFFFFFFFFull;

// Little-endian bytes of a header being put together.
class ByteBuilder {
public:
    void U8(uint8_t value) { Data.push_back(value); }
    void U16(uint16_t value) { Raw(&value, 2); }
    void U32(uint32_t value) { Raw(&value, 4); }
    void U64(uint64_t value) { Raw(&value, 8); }
    void Tag(uint32_t tag) { U32(tag); }
    void Raw(const void* data, size_t bytes) {
        const auto* from = static_cast<const uint8_t*>(data);
        Data.insert(Data.end(), from, from + bytes);
    }
    void Zeros(size_t bytes) { Data.insert(Data.end(), bytes, 0); }
    // Opens a LIST or chunk whose size is filled in by Close.
    size_t Open(uint32_t tag) {
        Tag(tag);
        U32(0);
        return Data.size();
    }
    void Close(size_t opened) {
        const uint32_t bytes = static_cast<uint32_t>(Data.size() - opened);
        std::memcpy(Data.data() + opened - 4, &bytes, 4);
    }
    std::vector<uint8_t> Data;
};

}  // namespace

CAviFileWriter::CAviFileWriter(uint64_t riffLimit) : RiffLimit(std::min(riffLimit, LargestRiff)) {
    Streams[0].Id = FourCc("00db");
    Streams[0].IndexId = FourCc("ix00");
    Streams[1].Id = FourCc("01wb");
    Streams[1].IndexId = FourCc("ix01");
}

CAviFileWriter::~CAviFileWriter() {
    if (File != INVALID_HANDLE_VALUE) CloseHandle(File);
}

void CAviFileWriter::Fail(HRESULT hr) {
    if (SUCCEEDED(Failure)) Failure = hr;
}

HRESULT CAviFileWriter::Append(const void* data, size_t bytes) {
    DWORD done = 0;
    if (!WriteFile(File, data, static_cast<DWORD>(bytes), &done, nullptr)) {
        Fail(HRESULT_FROM_WIN32(GetLastError()));
    } else if (done != bytes) {
        Fail(HRESULT_FROM_WIN32(ERROR_DISK_FULL));
    } else {
        Position += bytes;
    }
    return Failure;
}

HRESULT CAviFileWriter::WriteAt(uint64_t offset, const void* data, size_t bytes) {
    LARGE_INTEGER to;
    to.QuadPart = static_cast<LONGLONG>(offset);
    DWORD done = 0;
    if (!SetFilePointerEx(File, to, nullptr, FILE_BEGIN) ||
        !WriteFile(File, data, static_cast<DWORD>(bytes), &done, nullptr)) {
        Fail(HRESULT_FROM_WIN32(GetLastError()));
        return Failure;
    }
    if (done != bytes) Fail(HRESULT_FROM_WIN32(ERROR_DISK_FULL));
    to.QuadPart = static_cast<LONGLONG>(Position);
    if (!SetFilePointerEx(File, to, nullptr, FILE_BEGIN)) Fail(HRESULT_FROM_WIN32(GetLastError()));
    return Failure;
}

HRESULT CAviFileWriter::Open(const std::wstring& path, const AviVideoFormat& video, const WAVEFORMATEX* sound) {
    std::lock_guard<std::mutex> hold(Lock);
    if (File != INVALID_HANDLE_VALUE || Finished) return E_UNEXPECTED;
    if (video.Width == 0 || video.Height == 0 || video.PictureBytes == 0 || video.PictureDuration100ns < 10) {
        return E_INVALIDARG;
    }
    if (sound && (sound->wFormatTag != WAVE_FORMAT_PCM || sound->nBlockAlign == 0 || sound->nAvgBytesPerSec == 0)) {
        return E_INVALIDARG;
    }
    Video = video;
    HasSound = sound != nullptr;
    if (sound) {
        Sound = *sound;
        Sound.cbSize = 0;
    }
    File = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (File == INVALID_HANDLE_VALUE) {
        Fail(HRESULT_FROM_WIN32(GetLastError()));
        return Failure;
    }
    const std::vector<uint8_t> headers = Headers();
    RiffStart = 0;
    MoviStart = headers.size() - 12;
    RiffCount = 1;
    return Append(headers.data(), headers.size());
}

uint32_t CAviFileWriter::UnitsOf(const Stream& stream, uint64_t bytes) const {
    if (&stream == &Streams[0]) return static_cast<uint32_t>(bytes / std::max<uint32_t>(Video.PictureBytes, 1));
    return static_cast<uint32_t>(bytes / std::max<WORD>(Sound.nBlockAlign, 1));
}

HRESULT CAviFileWriter::AddPicture(const void* data, uint32_t bytes) {
    std::lock_guard<std::mutex> hold(Lock);
    if (FAILED(Failure)) return Failure;
    if (!data || bytes != Video.PictureBytes) {
        Fail(E_INVALIDARG);
        return Failure;
    }
    return AddChunk(&Streams[0], data, bytes);
}

HRESULT CAviFileWriter::AddSound(const void* data, uint32_t bytes) {
    std::lock_guard<std::mutex> hold(Lock);
    if (FAILED(Failure)) return Failure;
    if (!HasSound || !data || bytes % Sound.nBlockAlign != 0) {
        Fail(E_INVALIDARG);
        return Failure;
    }
    if (bytes == 0) return S_OK;
    return AddChunk(&Streams[1], data, bytes);
}

uint64_t CAviFileWriter::ClosingBytes() const {
    uint64_t bytes = 0;
    for (const Stream& stream : Streams) {
        if (!stream.InRiff.empty()) bytes += 8 + StandardHeaderBytes + StandardEntryBytes * stream.InRiff.size();
    }
    if (RiffCount == 1) bytes += 8 + LegacyEntryBytes * Legacy.size();
    return bytes;
}

HRESULT CAviFileWriter::AddChunk(Stream* stream, const void* data, uint32_t bytes) {
    if (File == INVALID_HANDLE_VALUE || Finished) return E_UNEXPECTED;
    const uint64_t chunkBytes = 8 + bytes + (bytes & 1);
    // What this chunk adds to the indexes that close the RIFF.
    uint64_t indexGrowth = StandardEntryBytes + (stream->InRiff.empty() ? 8 + StandardHeaderBytes : 0);
    if (RiffCount == 1) indexGrowth += LegacyEntryBytes;
    const bool riffHoldsData = !Streams[0].InRiff.empty() || !Streams[1].InRiff.empty();
    if (riffHoldsData && Position - RiffStart + chunkBytes + ClosingBytes() + indexGrowth > RiffLimit) {
        if (FAILED(CloseRiff()) || FAILED(OpenContinuationRiff())) return Failure;
    }
    if (RiffCount == 1) Legacy.push_back(LegacyEntry{stream->Id, static_cast<uint32_t>(Position - (MoviStart + 8)), bytes});
    stream->InRiff.push_back(ChunkEntry{Position + 8, bytes});
    const uint32_t head[] = {stream->Id, bytes};
    const uint8_t pad = 0;
    if (FAILED(Append(head, sizeof(head))) || FAILED(Append(data, bytes)) || ((bytes & 1) && FAILED(Append(&pad, 1)))) {
        return Failure;
    }
    stream->Units += UnitsOf(*stream, bytes);
    stream->Bytes += bytes;
    stream->LargestChunk = std::max(stream->LargestChunk, bytes);
    return S_OK;
}

HRESULT CAviFileWriter::CloseRiff() {
    for (Stream& stream : Streams) {
        if (stream.InRiff.empty()) continue;
        ByteBuilder index;
        const size_t opened = index.Open(stream.IndexId);
        index.U16(2);
        index.U8(0);
        index.U8(IndexOfChunks);
        index.U32(static_cast<uint32_t>(stream.InRiff.size()));
        index.Tag(stream.Id);
        index.U64(RiffStart);
        index.U32(0);
        uint64_t bytes = 0;
        for (const ChunkEntry& chunk : stream.InRiff) {
            index.U32(static_cast<uint32_t>(chunk.DataOffset - RiffStart));
            index.U32(chunk.Bytes);
            bytes += chunk.Bytes;
        }
        index.Close(opened);
        stream.Indexes.push_back(
            SuperEntry{Position, static_cast<uint32_t>(index.Data.size()), UnitsOf(stream, bytes)});
        stream.InRiff.clear();
        if (FAILED(Append(index.Data.data(), index.Data.size()))) return Failure;
    }
    const uint32_t moviBytes = static_cast<uint32_t>(Position - (MoviStart + 8));
    if (FAILED(WriteAt(MoviStart + 4, &moviBytes, 4))) return Failure;
    if (RiffCount == 1) {
        FirstMoviBytes = moviBytes;
        FirstRiffPictures = Streams[0].Units;
        ByteBuilder index;
        const size_t opened = index.Open(FourCc("idx1"));
        for (const LegacyEntry& entry : Legacy) {
            index.Tag(entry.Id);
            index.U32(KeyFrameFlag);
            index.U32(entry.MoviOffset);
            index.U32(entry.Bytes);
        }
        index.Close(opened);
        Legacy.clear();
        Legacy.shrink_to_fit();
        if (FAILED(Append(index.Data.data(), index.Data.size()))) return Failure;
    }
    const uint32_t riffBytes = static_cast<uint32_t>(Position - (RiffStart + 8));
    if (RiffCount == 1) FirstRiffBytes = riffBytes;
    return WriteAt(RiffStart + 4, &riffBytes, 4);
}

HRESULT CAviFileWriter::OpenContinuationRiff() {
    if (RiffCount >= MaxRiffs) {
        Fail(HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE));
        return Failure;
    }
    RiffStart = Position;
    MoviStart = Position + 12;
    ++RiffCount;
    const uint32_t head[] = {FourCc("RIFF"), 0, FourCc("AVIX"), FourCc("LIST"), 0, FourCc("movi")};
    return Append(head, sizeof(head));
}

std::vector<uint8_t> CAviFileWriter::Headers() const {
    const uint32_t microSecondsPerPicture = static_cast<uint32_t>(Video.PictureDuration100ns / 10);
    const uint64_t picturesPerSecondMilli = 10000000000ull / static_cast<uint64_t>(Video.PictureDuration100ns);
    const uint32_t pictureChunk = std::max(Streams[0].LargestChunk, Video.PictureBytes);
    const uint32_t soundChunk = std::max<uint32_t>(Streams[1].LargestChunk, HasSound ? Sound.nAvgBytesPerSec : 0);
    ByteBuilder out;
    out.Tag(FourCc("RIFF"));
    out.U32(FirstRiffBytes);
    out.Tag(FourCc("AVI "));
    const size_t hdrl = out.Open(FourCc("LIST"));
    out.Tag(FourCc("hdrl"));

    const size_t avih = out.Open(FourCc("avih"));
    out.U32(microSecondsPerPicture);
    out.U32(static_cast<uint32_t>((pictureChunk + 8ull) * picturesPerSecondMilli / 1000 +
                                  (HasSound ? Sound.nAvgBytesPerSec : 0)));
    out.U32(0);
    out.U32(HasIndexFlag | IsInterleavedFlag);
    out.U32(static_cast<uint32_t>(FirstRiffPictures));
    out.U32(0);
    out.U32(HasSound ? 2 : 1);
    out.U32(std::max(pictureChunk, soundChunk) + 8);
    out.U32(Video.Width);
    out.U32(Video.Height);
    out.Zeros(16);
    out.Close(avih);

    for (int index = 0; index < (HasSound ? 2 : 1); ++index) {
        const Stream& stream = Streams[index];
        const bool video = index == 0;
        const size_t strl = out.Open(FourCc("LIST"));
        out.Tag(FourCc("strl"));
        const size_t strh = out.Open(FourCc("strh"));
        out.Tag(video ? FourCc("vids") : FourCc("auds"));
        out.Tag(video ? FourCc("YUY2") : 0);
        out.U32(0);   // flags
        out.U16(0);   // priority
        out.U16(0);   // language
        out.U32(0);   // initial frames
        out.U32(video ? microSecondsPerPicture : Sound.nBlockAlign);
        out.U32(video ? 1000000u : Sound.nAvgBytesPerSec);
        out.U32(0);   // start
        out.U32(static_cast<uint32_t>(stream.Units));
        out.U32(video ? pictureChunk : soundChunk);
        out.U32(0xFFFFFFFFu);
        out.U32(video ? 0 : Sound.nBlockAlign);
        out.U16(0);
        out.U16(0);
        out.U16(static_cast<uint16_t>(video ? Video.Width : 0));
        out.U16(static_cast<uint16_t>(video ? Video.Height : 0));
        out.Close(strh);
        const size_t strf = out.Open(FourCc("strf"));
        if (video) {
            BITMAPINFOHEADER format = {};
            format.biSize = sizeof(format);
            format.biWidth = static_cast<LONG>(Video.Width);
            format.biHeight = static_cast<LONG>(Video.Height);
            format.biPlanes = 1;
            format.biBitCount = 16;
            format.biCompression = FourCc("YUY2");
            format.biSizeImage = Video.PictureBytes;
            out.Raw(&format, sizeof(format));
        } else {
            out.Raw(&Sound, sizeof(Sound));
        }
        out.Close(strf);
        const size_t indx = out.Open(FourCc("indx"));
        out.U16(4);
        out.U8(0);
        out.U8(IndexOfIndexes);
        out.U32(static_cast<uint32_t>(stream.Indexes.size()));
        out.Tag(stream.Id);
        out.Zeros(12);
        for (const SuperEntry& entry : stream.Indexes) {
            out.U64(entry.Offset);
            out.U32(entry.Bytes);
            out.U32(entry.Duration);
        }
        out.Zeros(SuperEntryBytes * (MaxRiffs - stream.Indexes.size()));
        out.Close(indx);
        out.Close(strl);
    }

    const size_t odml = out.Open(FourCc("LIST"));
    out.Tag(FourCc("odml"));
    const size_t dmlh = out.Open(FourCc("dmlh"));
    out.U32(static_cast<uint32_t>(Streams[0].Units));
    out.Zeros(DmlhBytes - 4);
    out.Close(dmlh);
    out.Close(odml);
    out.Close(hdrl);

    out.Tag(FourCc("LIST"));
    out.U32(FirstMoviBytes);
    out.Tag(FourCc("movi"));
    return out.Data;
}

HRESULT CAviFileWriter::Finish() {
    std::lock_guard<std::mutex> hold(Lock);
    if (File == INVALID_HANDLE_VALUE) return FAILED(Failure) ? Failure : E_UNEXPECTED;
    if (SUCCEEDED(Failure) && SUCCEEDED(CloseRiff())) {
        const std::vector<uint8_t> headers = Headers();
        WriteAt(0, headers.data(), headers.size());
    }
    if (!CloseHandle(File)) Fail(HRESULT_FROM_WIN32(GetLastError()));
    File = INVALID_HANDLE_VALUE;
    Finished = true;
    return Failure;
}

uint64_t CAviFileWriter::Pictures() const {
    std::lock_guard<std::mutex> hold(Lock);
    return Streams[0].Units;
}

uint64_t CAviFileWriter::SoundBytes() const {
    std::lock_guard<std::mutex> hold(Lock);
    return Streams[1].Bytes;
}

uint32_t CAviFileWriter::Riffs() const {
    std::lock_guard<std::mutex> hold(Lock);
    return RiffCount;
}
