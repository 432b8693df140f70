// Writes an uncompressed AVI: one packed-YUY2 video stream and optionally one
// PCM sound stream, chunks appended in the order they arrive. Files of any
// size: the first RIFF ('AVI ') carries an idx1 index of its own chunks for
// AVI 1.0 readers; once a RIFF would pass the size limit the data goes on in
// 'AVIX' continuation RIFFs, and every RIFF ends its 'movi' list with one
// standard index ('ix00', 'ix01') per stream, listed by a super index
// ('indx') in the stream's header. Header fields that depend on the totals
// are rewritten by Finish.
//
// Owns the output file handle until Finish or destruction; a writer that is
// destroyed unfinished leaves an unfinished file, which its owner deletes.
// Open and Finish are called by the owning thread; AddPicture and AddSound
// may come from two other threads at once. Lock guards every mutable field.
// The first failure sticks: later calls do nothing and Finish reports it.
#pragma once

#include <windows.h>
#include <mmreg.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

struct AviVideoFormat {
    uint32_t Width = 0;
    uint32_t Height = 0;
    uint32_t PictureBytes = 0;              // one YUY2 picture, Width*Height*2
    int64_t PictureDuration100ns = 400000;  // stamp step of one picture
};

class CAviFileWriter {
public:
    // Stays below what 32-bit RIFF sizes and older readers allow.
    static constexpr uint64_t DefaultRiffLimit = 1ull << 30;
    // RIFFs one file may hold (each listed in the super indexes).
    static constexpr uint32_t MaxRiffs = 256;

    explicit CAviFileWriter(uint64_t riffLimit = DefaultRiffLimit);
    ~CAviFileWriter();
    CAviFileWriter(const CAviFileWriter&) = delete;
    CAviFileWriter& operator=(const CAviFileWriter&) = delete;

    // Creates (or replaces) the file and writes its headers. sound may be
    // null for a silent file; it must be PCM.
    HRESULT Open(const std::wstring& path, const AviVideoFormat& video, const WAVEFORMATEX* sound);
    // One picture of exactly PictureBytes.
    HRESULT AddPicture(const void* data, uint32_t bytes);
    // Sound bytes, a whole number of blocks.
    HRESULT AddSound(const void* data, uint32_t bytes);
    // Closes the last RIFF, writes the final headers and closes the file.
    HRESULT Finish();

    uint64_t Pictures() const;
    uint64_t SoundBytes() const;
    uint32_t Riffs() const;

private:
    struct ChunkEntry {
        uint64_t DataOffset;  // file offset of the chunk's data
        uint32_t Bytes;
    };
    struct SuperEntry {
        uint64_t Offset;      // file offset of the standard index chunk
        uint32_t Bytes;       // its size, header included
        uint32_t Duration;    // pictures, or sound blocks, it indexes
    };
    struct Stream {
        uint32_t Id = 0;      // '00db' or '01wb'
        uint32_t IndexId = 0; // 'ix00' or 'ix01'
        uint64_t Units = 0;   // pictures, or sound blocks, in the whole file
        uint64_t Bytes = 0;
        uint32_t LargestChunk = 0;
        std::vector<ChunkEntry> InRiff;   // chunks of the current RIFF
        std::vector<SuperEntry> Indexes;  // one per finished RIFF
    };
    struct LegacyEntry {
        uint32_t Id;
        uint32_t MoviOffset;  // from the 'movi' tag of the first RIFF
        uint32_t Bytes;
    };

    HRESULT AddChunk(Stream* stream, const void* data, uint32_t bytes);
    uint32_t UnitsOf(const Stream& stream, uint64_t bytes) const;
    uint64_t ClosingBytes() const;
    HRESULT CloseRiff();
    HRESULT OpenContinuationRiff();
    std::vector<uint8_t> Headers() const;
    HRESULT Append(const void* data, size_t bytes);
    HRESULT WriteAt(uint64_t offset, const void* data, size_t bytes);
    void Fail(HRESULT hr);

    const uint64_t RiffLimit;
    mutable std::mutex Lock;
    HANDLE File = INVALID_HANDLE_VALUE;  // guarded by Lock
    HRESULT Failure = S_OK;              // guarded by Lock
    bool Finished = false;               // guarded by Lock
    AviVideoFormat Video;                // guarded by Lock
    bool HasSound = false;               // guarded by Lock
    WAVEFORMATEX Sound = {};             // guarded by Lock
    Stream Streams[2];                   // guarded by Lock; 0 video, 1 sound
    uint64_t Position = 0;               // guarded by Lock; end of the file
    uint64_t RiffStart = 0;              // guarded by Lock; the current RIFF's tag
    uint64_t MoviStart = 0;              // guarded by Lock; its 'LIST' of 'movi'
    uint32_t RiffCount = 0;              // guarded by Lock
    uint64_t FirstRiffPictures = 0;      // guarded by Lock
    uint32_t FirstRiffBytes = 0;         // guarded by Lock; its RIFF size field
    uint32_t FirstMoviBytes = 0;         // guarded by Lock; its 'movi' size field
    std::vector<LegacyEntry> Legacy;     // guarded by Lock; idx1 of the first RIFF
};
