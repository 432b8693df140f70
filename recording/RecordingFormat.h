// Layout of a KX recording file, shared by the writer, the reader and the
// stand-in playback library. All fields are 32-bit little-endian.
//
// File:   RecordingHeader, then records in decoding order (time order).
// Record: RecordHeader, then payloadBytes of payload. The record's checksum is
//         the CRC-32 of its kind, its payloadBytes and its payload, so damage
//         anywhere in a record is found before any of it is delivered.
//
// Payloads (each starts with fixed fields, see the *Fields structs):
//   RawPicture   time ms, width, height, then width*height*2 bytes of YUY2
//   TestPicture  time ms, width, height, frame number (decodes to the test pattern)
//   Pcm          first sample index, then 16-bit samples (8 kHz mono)
//   Tone         first sample index, sample count (decodes to the test tone)
#pragma once

#include <cstdint>

namespace kxrec {

constexpr uint32_t RecordingMagic = 0x5256584B;  // "KXVR"
constexpr uint32_t RecordingVersion = 1;

constexpr uint32_t SoundRate = 8000;              // samples per second, mono, 16-bit
constexpr uint32_t SamplesPerMs = SoundRate / 1000;
// The writer cuts sound into pieces of this many samples (40 ms, 640 bytes).
constexpr uint32_t SoundPieceSamples = 320;

// Limits a reader enforces before believing any size read from a file.
constexpr uint32_t MaxPictureWidth = 4096;
constexpr uint32_t MaxPictureHeight = 4096;
constexpr uint32_t MaxSoundRecordSamples = 16000;
constexpr uint32_t MaxFrameRate = 1000;

enum RecordKind : uint32_t {
    RecordRawPicture = 1,
    RecordTestPicture = 2,
    RecordPcm = 3,
    RecordTone = 4,
};

struct RecordingHeader {
    uint32_t magic;          // RecordingMagic
    uint32_t version;        // RecordingVersion
    uint32_t headerBytes;    // sizeof(RecordingHeader)
    uint32_t width;          // picture size of the first picture
    uint32_t height;
    uint32_t fpsNum;         // frame rate fpsNum/fpsDen pictures per second
    uint32_t fpsDen;
    uint32_t pictureCount;   // number of picture records
    uint32_t soundSamples;   // total sound samples in all sound records
    uint32_t durationMs;     // end of the last picture or sound, whichever is later
    uint32_t infoDelayMs;    // the library reports counts and duration only this long after open
    uint32_t recordCount;    // number of records of every kind
    uint32_t reserved[3];    // zero
    uint32_t headerCrc;      // CRC-32 of all bytes before this field
};
static_assert(sizeof(RecordingHeader) == 64, "header layout is fixed");

struct RecordHeader {
    uint32_t kind;           // RecordKind
    uint32_t payloadBytes;
    uint32_t crc;            // CRC-32 of kind, payloadBytes and the payload
};
static_assert(sizeof(RecordHeader) == 12, "record header layout is fixed");

struct PictureFields {       // leads RawPicture and TestPicture payloads
    uint32_t timeMs;
    uint32_t width;
    uint32_t height;
};

struct TestPictureFields {
    PictureFields picture;
    uint32_t frameNumber;
};

struct SoundFields {         // leads Pcm and Tone payloads
    uint32_t firstSample;
};

struct ToneFields {
    SoundFields sound;
    uint32_t sampleCount;
};

}  // namespace kxrec
