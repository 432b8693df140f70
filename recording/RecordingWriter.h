// Writes a recording. Everything goes to a temporary file beside the target,
// and only Commit renames it into place, so a failed or abandoned recording
// never leaves a half-written output.
//
// Records must come in decoding order: picture times never decrease, and each
// sound record starts at the sample where the previous one ended. Sound
// longer than SoundPieceSamples is cut into pieces of that size.
//
// Used by one thread at a time; owns the temporary file until Commit or
// destruction (which deletes it when not committed).
#pragma once

#include "recording/RecordingFormat.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace kxrec {

struct RecordingSettings {
    uint32_t width = 0;          // picture size the header announces
    uint32_t height = 0;
    uint32_t fpsNum = 25;
    uint32_t fpsDen = 1;
    uint32_t infoDelayMs = 0;    // see RecordingHeader::infoDelayMs
};

class CRecordingWriter {
public:
    CRecordingWriter() = default;
    ~CRecordingWriter();
    CRecordingWriter(const CRecordingWriter&) = delete;
    CRecordingWriter& operator=(const CRecordingWriter&) = delete;

    // Starts a recording that Commit will place at path.
    bool Begin(const std::wstring& path, const RecordingSettings& settings);

    // A picture stored as it stands: width*height*2 bytes of packed YUY2.
    bool AddRawPicture(uint32_t timeMs, uint32_t width, uint32_t height, const uint8_t* yuy2);
    // A picture stored as its frame number only; decodes to the test picture.
    bool AddTestPicture(uint32_t timeMs, uint32_t frameNumber, uint32_t width, uint32_t height);
    // Sound stored as it stands, starting at absolute sample firstSample.
    bool AddPcm(uint32_t firstSample, const int16_t* samples, uint32_t count);
    // Sound stored as its position only; decodes to the test tone.
    bool AddTone(uint32_t firstSample, uint32_t count);

    // Seals the header and renames the temporary file onto the target.
    bool Commit();

    // One line describing the last failure.
    const std::string& LastError() const { return Error; }

    // The header as it stands (counts so far).
    const RecordingHeader& Header() const { return Head; }

private:
    bool Fail(const std::string& message);
    bool CheckOpen();
    bool CheckPictureTime(uint32_t timeMs);
    bool CheckSoundStart(uint32_t firstSample);
    bool WriteRecord(RecordKind kind, const void* fields, size_t fieldBytes, const void* data,
                     size_t dataBytes);
    void NotePictureEnd(uint32_t timeMs);
    void NoteSoundEnd(uint32_t endSample);
    void Discard();

    std::wstring Target;
    std::wstring Temporary;
    FILE* File = nullptr;          // the temporary file while recording
    RecordingHeader Head{};
    std::string Error;
    bool HavePicture = false;
    uint32_t LastPictureMs = 0;
    bool HaveSound = false;
    uint32_t SoundEnd = 0;         // sample after the last sound record
};

}  // namespace kxrec
