// The shared AVI writer: every size, offset and index entry it writes must
// lead a reader to exactly the bytes that were added, in one RIFF and across
// OpenDML continuation RIFFs, with pictures and sound arriving from two
// threads; and a file it cannot write must be reported, never passed as
// finished.
#include "AviReadBack.h"
#include "SampleLog.h"
#include "TempFolder.h"
#include "recording/TestPattern.h"
#include "formats/avi/AviFileWriter.h"

#include <gtest/gtest.h>
#include <objbase.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

uint32_t U32(const Bytes& file, uint64_t at) {
    uint32_t value = 0;
    if (at + 4 <= file.size()) std::memcpy(&value, file.data() + at, 4);
    return value;
}

uint64_t U64(const Bytes& file, uint64_t at) {
    return U32(file, at) | static_cast<uint64_t>(U32(file, at + 4)) << 32;
}

std::string Tag(const Bytes& file, uint64_t at) {
    return at + 4 <= file.size() ? std::string(reinterpret_cast<const char*>(file.data() + at), 4) : "????";
}

// A chunk or list as found in the file: the offset of its tag.
struct Piece {
    std::string Id;
    std::string ListType;  // for RIFF and LIST
    uint64_t At = 0;
    uint32_t Size = 0;
    uint64_t Data() const { return At + 8; }
    uint64_t End() const { return At + 8 + Size + (Size & 1); }
};

// The pieces between begin and end, one level deep.
std::vector<Piece> Pieces(const Bytes& file, uint64_t begin, uint64_t end) {
    std::vector<Piece> pieces;
    for (uint64_t at = begin; at + 8 <= end;) {
        Piece piece;
        piece.Id = Tag(file, at);
        piece.At = at;
        piece.Size = U32(file, at + 4);
        if (piece.Id == "RIFF" || piece.Id == "LIST") piece.ListType = Tag(file, at + 8);
        pieces.push_back(piece);
        if (piece.End() > end) break;
        at = piece.End();
    }
    return pieces;
}

// The first piece with this id (or list type) among pieces.
const Piece* Find(const std::vector<Piece>& pieces, const std::string& id) {
    for (const Piece& piece : pieces) {
        if (piece.Id == id || piece.ListType == id) return &piece;
    }
    return nullptr;
}

// One chunk a reader reaches through the indexes: its data.
struct Reached {
    std::string Id;
    uint64_t Data = 0;
    uint32_t Size = 0;
};

WAVEFORMATEX Pcm(WORD bits) {
    WAVEFORMATEX format = {};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 1;
    format.nSamplesPerSec = 8000;
    format.wBitsPerSample = bits;
    format.nBlockAlign = bits / 8;
    format.nAvgBytesPerSec = 8000 * format.nBlockAlign;
    return format;
}

AviVideoFormat SmallPictures() {
    AviVideoFormat format;
    format.Width = 64;
    format.Height = 32;
    format.PictureBytes = 64 * 32 * 2;
    format.PictureDuration100ns = 400000;
    return format;
}

// A picture whose every byte is its number; a sound chunk whose bytes run on
// from the previous chunk's, so order and completeness show in the bytes.
Bytes Picture(uint32_t number, uint32_t bytes) {
    return Bytes(bytes, static_cast<uint8_t>(number));
}

Bytes Sound(uint64_t firstByte, uint32_t bytes) {
    Bytes sound(bytes);
    for (uint32_t i = 0; i < bytes; ++i) sound[i] = static_cast<uint8_t>((firstByte + i) * 7);
    return sound;
}

class AviFileWriterTest : public ::testing::Test {
protected:
    Bytes Written() const {
        std::ifstream in(Path.c_str(), std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    // Checks the whole file's structure and returns each stream's chunks in
    // the order its OpenDML indexes list them; legacy gets the chunks the
    // idx1 index lists.
    void Walk(const Bytes& file, std::vector<Reached>* video, std::vector<Reached>* sound,
              std::vector<Reached>* legacy, uint64_t riffLimit) {
        const std::vector<Piece> riffs = Pieces(file, 0, file.size());
        ASSERT_FALSE(riffs.empty());
        ASSERT_EQ(file.size(), riffs.back().End()) << "the RIFFs cover the file exactly";
        for (size_t i = 0; i < riffs.size(); ++i) {
            EXPECT_EQ("RIFF", riffs[i].Id) << "RIFF " << i;
            EXPECT_EQ(i == 0 ? "AVI " : "AVIX", riffs[i].ListType) << "RIFF " << i;
            EXPECT_LE(riffs[i].Size + 8ull, riffLimit) << "RIFF " << i << " is past the limit";
        }
        const std::vector<Piece> first = Pieces(file, riffs[0].Data() + 4, riffs[0].End());
        const Piece* hdrl = Find(first, "hdrl");
        const Piece* movi = Find(first, "movi");
        const Piece* idx1 = Find(first, "idx1");
        ASSERT_TRUE(hdrl && movi && idx1) << "hdrl, movi and idx1 in the first RIFF";
        EXPECT_EQ(movi->End(), idx1->At) << "idx1 follows the first movi";

        // idx1: offsets from the first movi's list type.
        ASSERT_EQ(0u, idx1->Size % 16);
        for (uint64_t at = idx1->Data(); at < idx1->Data() + idx1->Size; at += 16) {
            const uint64_t chunk = movi->Data() + U32(file, at + 8);
            EXPECT_EQ(Tag(file, at), Tag(file, chunk)) << "idx1 entry points at its chunk";
            EXPECT_EQ(U32(file, at + 12), U32(file, chunk + 4)) << "idx1 size";
            EXPECT_EQ(0x10u, U32(file, at + 4)) << "key frame";
            EXPECT_LT(chunk, movi->End()) << "idx1 covers the first RIFF only";
            legacy->push_back(Reached{Tag(file, at), chunk + 8, U32(file, at + 12)});
        }

        // Super indexes in each stream header, standard indexes in each movi.
        const std::vector<Piece> headers = Pieces(file, hdrl->Data() + 4, hdrl->End());
        std::vector<std::vector<Reached>*> streams = {video, sound};
        size_t streamIndex = 0;
        for (const Piece& strl : headers) {
            if (strl.ListType != "strl") continue;
            ASSERT_LT(streamIndex, streams.size());
            const std::vector<Piece> inStrl = Pieces(file, strl.Data() + 4, strl.End());
            const Piece* indx = Find(inStrl, "indx");
            ASSERT_NE(nullptr, indx);
            EXPECT_EQ(4u, U32(file, indx->Data()) & 0xFFFF) << "longs per entry";
            EXPECT_EQ(0u, U32(file, indx->Data()) >> 24) << "an index of indexes";
            const uint32_t entries = U32(file, indx->Data() + 4);
            const std::string id = Tag(file, indx->Data() + 8);
            EXPECT_EQ(streamIndex == 0 ? "00db" : "01wb", id);
            size_t lastRiff = 0;
            for (uint32_t e = 0; e < entries; ++e) {
                const uint64_t entry = indx->Data() + 24 + e * 16;
                const uint64_t ix = U64(file, entry);
                ASSERT_EQ(streamIndex == 0 ? "ix00" : "ix01", Tag(file, ix)) << "super index entry " << e;
                EXPECT_EQ(U32(file, entry + 8), U32(file, ix + 4) + 8) << "standard index size";
                // A stream may have no chunk in some RIFF, but its indexes
                // follow the RIFFs' order, one per RIFF at most.
                size_t riff = 0;
                while (riff < riffs.size() && riffs[riff].End() <= ix) ++riff;
                ASSERT_LT(riff, riffs.size());
                EXPECT_TRUE(e == 0 || riff > lastRiff) << "index " << e << " shares or precedes a RIFF";
                lastRiff = riff;
                EXPECT_EQ(2u, U32(file, ix + 8) & 0xFFFF) << "longs per entry";
                EXPECT_EQ(1u, U32(file, ix + 8) >> 24) << "an index of chunks";
                const uint32_t count = U32(file, ix + 12);
                ASSERT_EQ(24 + 8ull * count, U32(file, ix + 4)) << "entries in use fill the index chunk";
                EXPECT_EQ(id, Tag(file, ix + 16));
                const uint64_t base = U64(file, ix + 20);
                uint64_t bytes = 0;
                for (uint32_t c = 0; c < count; ++c) {
                    const uint64_t data = base + U32(file, ix + 32 + c * 8);
                    const uint32_t size = U32(file, ix + 32 + c * 8 + 4);
                    EXPECT_EQ(id, Tag(file, data - 8)) << "standard index entry points past a chunk header";
                    EXPECT_EQ(size, U32(file, data - 4));
                    EXPECT_TRUE(data > riffs[riff].At && data + size <= riffs[riff].End()) << "chunk in its RIFF";
                    streams[streamIndex]->push_back(Reached{id, data, size});
                    bytes += size;
                }
                const uint32_t units = streamIndex == 0 ? count : static_cast<uint32_t>(bytes / BlockAlign);
                EXPECT_EQ(units, U32(file, entry + 12)) << "duration of index " << e;
            }
            ++streamIndex;
        }
    }

    CTempFolder Temp;
    std::wstring Path = Temp.File(L"written.avi");
    uint32_t BlockAlign = 1;
};

TEST_F(AviFileWriterTest, OneRiffDescribesEveryChunkInHeadersAndBothIndexes) {
    const AviVideoFormat video = SmallPictures();
    const WAVEFORMATEX pcm = Pcm(8);
    CAviFileWriter writer;
    ASSERT_EQ(S_OK, writer.Open(Path, video, &pcm));
    uint64_t soundBytes = 0;
    for (uint32_t n = 0; n < 5; ++n) {
        ASSERT_EQ(S_OK, writer.AddPicture(Picture(n, video.PictureBytes).data(), video.PictureBytes));
        // Odd sizes: each chunk needs its pad byte.
        ASSERT_EQ(S_OK, writer.AddSound(Sound(soundBytes, 321).data(), 321));
        soundBytes += 321;
    }
    ASSERT_EQ(S_OK, writer.Finish());
    EXPECT_EQ(1u, writer.Riffs());

    const Bytes file = Written();
    std::vector<Reached> pictures, sound, legacy;
    Walk(file, &pictures, &sound, &legacy, CAviFileWriter::DefaultRiffLimit);
    ASSERT_EQ(5u, pictures.size());
    ASSERT_EQ(5u, sound.size());
    ASSERT_EQ(10u, legacy.size());
    for (uint32_t n = 0; n < 5; ++n) {
        EXPECT_EQ(video.PictureBytes, pictures[n].Size);
        EXPECT_EQ(n, file[pictures[n].Data]) << "picture " << n;
        EXPECT_EQ(n, file[pictures[n].Data + video.PictureBytes - 1]) << "picture " << n;
        EXPECT_EQ("00db", legacy[2 * n].Id) << "arrival order";
        EXPECT_EQ("01wb", legacy[2 * n + 1].Id) << "arrival order";
        EXPECT_EQ(0, std::memcmp(file.data() + sound[n].Data, Sound(n * 321, 321).data(), 321)) << "sound " << n;
    }

    const uint64_t avih = 12 + 12;
    ASSERT_EQ("avih", Tag(file, avih));
    EXPECT_EQ(40000u, U32(file, avih + 8)) << "microseconds per picture";
    EXPECT_EQ(5u, U32(file, avih + 8 + 16)) << "pictures";
    EXPECT_EQ(2u, U32(file, avih + 8 + 24)) << "streams";
    EXPECT_EQ(64u, U32(file, avih + 8 + 32));
    EXPECT_EQ(32u, U32(file, avih + 8 + 36));
    std::vector<uint64_t> strh;
    for (uint64_t at = 0; at + 4 <= 16384; ++at) {
        if (Tag(file, at) == "strh") strh.push_back(at);
    }
    ASSERT_EQ(2u, strh.size());
    EXPECT_EQ("vids", Tag(file, strh[0] + 8));
    EXPECT_EQ(5u, U32(file, strh[0] + 8 + 32)) << "video length";
    EXPECT_EQ("auds", Tag(file, strh[1] + 8));
    EXPECT_EQ(1u, U32(file, strh[1] + 8 + 20)) << "scale: one block";
    EXPECT_EQ(8000u, U32(file, strh[1] + 8 + 24)) << "rate: bytes per second";
    EXPECT_EQ(soundBytes, U32(file, strh[1] + 8 + 32)) << "sound length in blocks";
    EXPECT_EQ(1u, U32(file, strh[1] + 8 + 44)) << "sample size";
    const uint64_t soundFormat = strh[1] + 8 + 56;
    ASSERT_EQ("strf", Tag(file, soundFormat));
    EXPECT_EQ(18u, U32(file, soundFormat + 4));
    EXPECT_EQ(0, std::memcmp(file.data() + soundFormat + 8, &pcm, 16)) << "the wave format as given";
    uint64_t dmlh = 0;
    for (uint64_t at = 0; at + 4 <= 16384 && !dmlh; ++at) {
        if (Tag(file, at) == "dmlh") dmlh = at;
    }
    ASSERT_NE(0u, dmlh);
    EXPECT_EQ(5u, U32(file, dmlh + 8)) << "pictures in the whole file";
}

TEST_F(AviFileWriterTest, ContinuationRiffsStayUnderTheLimitAndIndexEveryChunk) {
    constexpr uint64_t Limit = 96 * 1024;
    constexpr uint32_t Pictures = 120;
    const AviVideoFormat video = SmallPictures();
    const WAVEFORMATEX pcm = Pcm(16);
    BlockAlign = 2;
    CAviFileWriter writer(Limit);
    ASSERT_EQ(S_OK, writer.Open(Path, video, &pcm));
    uint64_t soundBytes = 0;
    for (uint32_t n = 0; n < Pictures; ++n) {
        ASSERT_EQ(S_OK, writer.AddPicture(Picture(n, video.PictureBytes).data(), video.PictureBytes));
        ASSERT_EQ(S_OK, writer.AddSound(Sound(soundBytes, 640).data(), 640));
        soundBytes += 640;
    }
    ASSERT_EQ(S_OK, writer.Finish());
    ASSERT_GE(writer.Riffs(), 5u) << "the limit was meant to split the file";

    const Bytes file = Written();
    std::vector<Reached> pictures, sound, legacy;
    Walk(file, &pictures, &sound, &legacy, Limit);
    ASSERT_EQ(Pictures, pictures.size()) << "pictures reached through the OpenDML indexes";
    for (uint32_t n = 0; n < Pictures; ++n) EXPECT_EQ(n, file[pictures[n].Data]) << "picture " << n;
    uint64_t next = 0;
    for (const Reached& part : sound) {
        ASSERT_EQ(0, std::memcmp(file.data() + part.Data, Sound(next, part.Size).data(), part.Size))
            << "sound from byte " << next;
        next += part.Size;
    }
    EXPECT_EQ(soundBytes, next) << "sound reached through the OpenDML indexes";

    size_t legacyPictures = 0;
    for (const Reached& entry : legacy) legacyPictures += entry.Id == "00db";
    ASSERT_GT(legacyPictures, 0u);
    EXPECT_LT(legacyPictures, Pictures) << "idx1 lists the first RIFF only";
    EXPECT_EQ(legacyPictures, U32(file, 12 + 12 + 8 + 16)) << "avih counts the first RIFF's pictures";
    uint64_t dmlh = 0;
    for (uint64_t at = 0; at + 4 <= 16384 && !dmlh; ++at) {
        if (Tag(file, at) == "dmlh") dmlh = at;
    }
    ASSERT_NE(0u, dmlh);
    EXPECT_EQ(Pictures, U32(file, dmlh + 8)) << "dmlh counts every picture";
}

TEST_F(AviFileWriterTest, PicturesAndSoundFromTwoThreadsAllArriveInOrder) {
    constexpr uint32_t Pictures = 300;
    constexpr uint32_t SoundChunks = 300;
    const AviVideoFormat video = SmallPictures();
    const WAVEFORMATEX pcm = Pcm(16);
    BlockAlign = 2;
    CAviFileWriter writer(128 * 1024);
    ASSERT_EQ(S_OK, writer.Open(Path, video, &pcm));
    HRESULT pictureResult = S_OK, soundResult = S_OK;
    std::thread pictureThread([&] {
        for (uint32_t n = 0; n < Pictures && SUCCEEDED(pictureResult); ++n) {
            pictureResult = writer.AddPicture(Picture(n, video.PictureBytes).data(), video.PictureBytes);
        }
    });
    std::thread soundThread([&] {
        for (uint32_t n = 0; n < SoundChunks && SUCCEEDED(soundResult); ++n) {
            soundResult = writer.AddSound(Sound(n * 320ull, 320).data(), 320);
        }
    });
    pictureThread.join();
    soundThread.join();
    ASSERT_EQ(S_OK, pictureResult);
    ASSERT_EQ(S_OK, soundResult);
    ASSERT_EQ(S_OK, writer.Finish());
    EXPECT_EQ(Pictures, writer.Pictures());
    EXPECT_EQ(SoundChunks * 320ull, writer.SoundBytes());

    const Bytes file = Written();
    std::vector<Reached> pictures, sound, legacy;
    Walk(file, &pictures, &sound, &legacy, 128 * 1024);
    ASSERT_EQ(Pictures, pictures.size());
    for (uint32_t n = 0; n < Pictures; ++n) EXPECT_EQ(static_cast<uint8_t>(n), file[pictures[n].Data]) << n;
    ASSERT_EQ(SoundChunks, sound.size());
    for (uint32_t n = 0; n < SoundChunks; ++n) {
        EXPECT_EQ(0, std::memcmp(file.data() + sound[n].Data, Sound(n * 320ull, 320).data(), 320)) << n;
    }
}

TEST_F(AviFileWriterTest, ThePlatformAviSourceReadsEveryPictureAndTheSoundAcrossRiffs) {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    constexpr uint32_t Width = 176, Height = 144, Pictures = 50;
    AviVideoFormat video;
    video.Width = Width;
    video.Height = Height;
    video.PictureBytes = Width * Height * 2;
    video.PictureDuration100ns = 400000;
    const WAVEFORMATEX pcm = Pcm(16);
    {
        CAviFileWriter writer(512 * 1024);
        ASSERT_EQ(S_OK, writer.Open(Path, video, &pcm));
        Bytes picture(video.PictureBytes);
        std::vector<int16_t> tone(320);
        for (uint32_t n = 0; n < Pictures; ++n) {
            ASSERT_TRUE(kxrec::SynthesizeTestPicture(n, n * 40, Width, Height, picture.data(), Width * 2));
            ASSERT_EQ(S_OK, writer.AddPicture(picture.data(), video.PictureBytes));
            kxrec::SynthesizeTone(n * 320, 320, tone.data());
            ASSERT_EQ(S_OK, writer.AddSound(tone.data(), 640));
        }
        ASSERT_EQ(S_OK, writer.Finish());
        ASSERT_GE(writer.Riffs(), 3u);
    }
    {
        CSampleLog pictures(CSampleLog::Kind::Video, Width, Height);
        CSampleLog sound(CSampleLog::Kind::Audio);
        ASSERT_TRUE(ReadAviBack(Path, &pictures, &sound)) << "the platform's AVI source cannot play the file";
        const std::vector<DeliveredSample> got = pictures.Snapshot();
        ASSERT_EQ(Pictures, got.size());
        for (uint32_t n = 0; n < Pictures; ++n) EXPECT_EQ(n, got[n].Frame) << "picture " << n;
        int64_t next = 0;
        for (const DeliveredSample& part : sound.Snapshot()) {
            EXPECT_EQ(next, part.FirstTone) << "sound out of place";
            next = part.FirstTone + part.Bytes / 2;
        }
        EXPECT_EQ(Pictures * 320, next) << "sound missing";
    }
    CoUninitialize();
}

TEST_F(AviFileWriterTest, FailuresStickAndFinishReportsThem) {
    const AviVideoFormat video = SmallPictures();
    const WAVEFORMATEX pcm = Pcm(16);
    const Bytes picture = Picture(1, video.PictureBytes);
    {
        CAviFileWriter writer;
        EXPECT_TRUE(FAILED(writer.Open(Temp.File(L"absent\\x.avi"), video, &pcm))) << "folder missing";
        EXPECT_TRUE(FAILED(writer.AddPicture(picture.data(), video.PictureBytes)));
        EXPECT_TRUE(FAILED(writer.Finish()));
    }
    {
        CAviFileWriter writer;
        ASSERT_EQ(S_OK, writer.Open(Path, video, &pcm));
        EXPECT_EQ(E_UNEXPECTED, writer.Open(Path, video, &pcm)) << "opened twice";
        EXPECT_EQ(E_INVALIDARG, writer.AddPicture(picture.data(), video.PictureBytes - 2)) << "short picture";
        EXPECT_EQ(E_INVALIDARG, writer.AddPicture(picture.data(), video.PictureBytes)) << "the failure sticks";
        EXPECT_EQ(E_INVALIDARG, writer.Finish());
    }
    {
        CAviFileWriter writer;
        ASSERT_EQ(S_OK, writer.Open(Path, video, &pcm));
        EXPECT_EQ(E_INVALIDARG, writer.AddSound(picture.data(), 3)) << "half a sound block";
        EXPECT_EQ(E_INVALIDARG, writer.Finish());
    }
    {
        CAviFileWriter writer;
        ASSERT_EQ(S_OK, writer.Open(Path, video, nullptr));
        EXPECT_EQ(E_INVALIDARG, writer.AddSound(picture.data(), 2)) << "sound into a silent file";
    }
    WAVEFORMATEX compressed = pcm;
    compressed.wFormatTag = WAVE_FORMAT_ADPCM;
    CAviFileWriter refused;
    EXPECT_EQ(E_INVALIDARG, refused.Open(Path, video, &compressed)) << "only PCM";
    AviVideoFormat empty = video;
    empty.Width = 0;
    EXPECT_EQ(E_INVALIDARG, refused.Open(Path, empty, &pcm));
}

}  // namespace
