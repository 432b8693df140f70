// Reads a recording without trusting it. Open checks the header and builds an
// index of the records, each checked for a known kind, a payload size that
// matches its kind, sizes within limits, picture times that never decrease,
// sound that continues where it ended, and a payload that lies inside the
// file. The index ends at the first record that fails (Damaged() tells).
// Decode reads one record, verifies its checksum and turns it into the bytes
// the library delivers.
//
// Used by one thread at a time; owns the open file.
#pragma once

#include "recording/RecordingFormat.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace kxrec {

struct RecordEntry {
    uint64_t offset;         // file offset of the record header
    uint32_t kind;           // RecordKind
    uint32_t payloadBytes;
    uint32_t timeMs;         // pictures: picture time; sound: time of the first sample
    uint32_t width;          // pictures only
    uint32_t height;         // pictures only
    uint32_t frameNumber;    // test pictures only
    uint32_t firstSample;    // sound only
    uint32_t sampleCount;    // sound only

    bool IsPicture() const { return kind == RecordRawPicture || kind == RecordTestPicture; }
};

class CRecordingReader {
public:
    CRecordingReader() = default;
    ~CRecordingReader();
    CRecordingReader(const CRecordingReader&) = delete;
    CRecordingReader& operator=(const CRecordingReader&) = delete;

    // False, with LastError set, when the file is missing, unreadable or its
    // header is not a valid recording header.
    bool Open(const std::wstring& path);

    const RecordingHeader& Header() const { return Head; }
    const std::vector<RecordEntry>& Records() const { return Index; }
    // True when the records stop short of what the header announces, or a
    // damaged record ended the index early.
    bool Damaged() const { return IsDamaged; }

    // Decodes record index into out: YUY2 bytes for pictures (width*height*2),
    // PCM bytes for sound. False, with LastError set, when the record cannot
    // be read or its checksum fails.
    bool Decode(size_t index, std::vector<uint8_t>& out);

    const std::string& LastError() const { return Error; }

private:
    bool Fail(const std::string& message);
    bool ReadAt(uint64_t offset, void* data, size_t bytes);
    bool CheckHeader();
    // Reads and checks the record at offset; false when it is not a good record.
    bool IndexRecord(uint64_t offset, uint64_t fileSize, RecordEntry* entry);

    FILE* File = nullptr;
    RecordingHeader Head{};
    std::vector<RecordEntry> Index;
    std::vector<uint8_t> Payload;    // scratch for Decode
    bool IsDamaged = false;
    // What indexing has seen so far, to check the order of the next record.
    bool HavePicture = false;
    uint32_t LastPictureMs = 0;
    bool HaveSound = false;
    uint32_t SoundEnd = 0;
    std::string Error;
};

}  // namespace kxrec
