#include "recording/RecordingWriter.h"

#include "recording/Crc32.h"
#include "recording/TestPattern.h"

#include <windows.h>

#include <algorithm>

namespace kxrec {

CRecordingWriter::~CRecordingWriter() {
    Discard();
}

void CRecordingWriter::Discard() {
    if (File != nullptr) {
        fclose(File);
        File = nullptr;
        DeleteFileW(Temporary.c_str());
    }
}

bool CRecordingWriter::Fail(const std::string& message) {
    Error = message;
    Discard();
    return false;
}

bool CRecordingWriter::CheckOpen() {
    if (File == nullptr) {
        if (Error.empty()) Error = "recording not begun";
        return false;
    }
    return true;
}

bool CRecordingWriter::Begin(const std::wstring& path, const RecordingSettings& settings) {
    Discard();
    Error.clear();
    if (settings.width == 0 || settings.width % 2 != 0 || settings.width > MaxPictureWidth ||
        settings.height == 0 || settings.height > MaxPictureHeight) {
        return Fail("picture size must be even width, 2..4096 x 1..4096");
    }
    if (settings.fpsNum == 0 || settings.fpsDen == 0 ||
        settings.fpsNum / settings.fpsDen > MaxFrameRate) {
        return Fail("frame rate must be between 1/N and 1000 pictures per second");
    }
    Target = path;
    Temporary = path + L".kxpart" + std::to_wstring(GetCurrentProcessId());
    File = _wfopen(Temporary.c_str(), L"wb");
    if (File == nullptr) return Fail("cannot create the output file");
    Head = RecordingHeader{};
    Head.magic = RecordingMagic;
    Head.version = RecordingVersion;
    Head.headerBytes = sizeof(RecordingHeader);
    Head.width = settings.width;
    Head.height = settings.height;
    Head.fpsNum = settings.fpsNum;
    Head.fpsDen = settings.fpsDen;
    Head.infoDelayMs = settings.infoDelayMs;
    HavePicture = false;
    HaveSound = false;
    LastPictureMs = 0;
    SoundEnd = 0;
    if (fwrite(&Head, sizeof(Head), 1, File) != 1) return Fail("cannot write the output file");
    return true;
}

bool CRecordingWriter::CheckPictureTime(uint32_t timeMs) {
    if (HavePicture && timeMs < LastPictureMs) return Fail("picture times must not decrease");
    return true;
}

bool CRecordingWriter::CheckSoundStart(uint32_t firstSample) {
    if (HaveSound && firstSample != SoundEnd) return Fail("sound must continue where it ended");
    return true;
}

void CRecordingWriter::NotePictureEnd(uint32_t timeMs) {
    HavePicture = true;
    LastPictureMs = timeMs;
    ++Head.pictureCount;
    const uint64_t interval = 1000ull * Head.fpsDen / Head.fpsNum;
    Head.durationMs = static_cast<uint32_t>(
        std::min<uint64_t>(0xFFFFFFFFu, std::max<uint64_t>(Head.durationMs, timeMs + interval)));
}

void CRecordingWriter::NoteSoundEnd(uint32_t endSample) {
    HaveSound = true;
    SoundEnd = endSample;
    const uint32_t endMs = (endSample + SamplesPerMs - 1) / SamplesPerMs;
    Head.durationMs = std::max(Head.durationMs, endMs);
}

bool CRecordingWriter::WriteRecord(RecordKind kind, const void* fields, size_t fieldBytes,
                                   const void* data, size_t dataBytes) {
    RecordHeader record{};
    record.kind = kind;
    record.payloadBytes = static_cast<uint32_t>(fieldBytes + dataBytes);
    uint32_t crc = Crc32(0, &record, 2 * sizeof(uint32_t));
    crc = Crc32(crc, fields, fieldBytes);
    if (dataBytes != 0) crc = Crc32(crc, data, dataBytes);
    record.crc = crc;
    if (fwrite(&record, sizeof(record), 1, File) != 1 || fwrite(fields, fieldBytes, 1, File) != 1 ||
        (dataBytes != 0 && fwrite(data, dataBytes, 1, File) != 1)) {
        return Fail("cannot write the output file");
    }
    ++Head.recordCount;
    return true;
}

bool CRecordingWriter::AddRawPicture(uint32_t timeMs, uint32_t width, uint32_t height,
                                     const uint8_t* yuy2) {
    if (!CheckOpen()) return false;
    if (width == 0 || width % 2 != 0 || width > MaxPictureWidth || height == 0 ||
        height > MaxPictureHeight || yuy2 == nullptr) {
        return Fail("raw picture size must be even width, 2..4096 x 1..4096");
    }
    if (!CheckPictureTime(timeMs)) return false;
    const PictureFields fields{timeMs, width, height};
    if (!WriteRecord(RecordRawPicture, &fields, sizeof(fields), yuy2,
                     static_cast<size_t>(width) * height * 2)) {
        return false;
    }
    NotePictureEnd(timeMs);
    return true;
}

bool CRecordingWriter::AddTestPicture(uint32_t timeMs, uint32_t frameNumber, uint32_t width,
                                      uint32_t height) {
    if (!CheckOpen()) return false;
    if (!TestPictureFits(width, height)) return Fail("test picture size too small or too large");
    if (!CheckPictureTime(timeMs)) return false;
    const TestPictureFields fields{{timeMs, width, height}, frameNumber};
    if (!WriteRecord(RecordTestPicture, &fields, sizeof(fields), nullptr, 0)) return false;
    NotePictureEnd(timeMs);
    return true;
}

bool CRecordingWriter::AddPcm(uint32_t firstSample, const int16_t* samples, uint32_t count) {
    if (!CheckOpen()) return false;
    if (count == 0 || samples == nullptr) return Fail("sound record without samples");
    if (!CheckSoundStart(firstSample)) return false;
    for (uint32_t done = 0; done < count;) {
        const uint32_t piece = std::min(SoundPieceSamples, count - done);
        const SoundFields fields{firstSample + done};
        if (!WriteRecord(RecordPcm, &fields, sizeof(fields), samples + done, piece * 2u)) return false;
        done += piece;
        Head.soundSamples += piece;
        NoteSoundEnd(firstSample + done);
    }
    return true;
}

bool CRecordingWriter::AddTone(uint32_t firstSample, uint32_t count) {
    if (!CheckOpen()) return false;
    if (count == 0) return Fail("sound record without samples");
    if (!CheckSoundStart(firstSample)) return false;
    for (uint32_t done = 0; done < count;) {
        const uint32_t piece = std::min(SoundPieceSamples, count - done);
        const ToneFields fields{{firstSample + done}, piece};
        if (!WriteRecord(RecordTone, &fields, sizeof(fields), nullptr, 0)) return false;
        done += piece;
        Head.soundSamples += piece;
        NoteSoundEnd(firstSample + done);
    }
    return true;
}

bool CRecordingWriter::Commit() {
    if (!CheckOpen()) return false;
    Head.headerCrc = Crc32(0, &Head, offsetof(RecordingHeader, headerCrc));
    if (fseek(File, 0, SEEK_SET) != 0 || fwrite(&Head, sizeof(Head), 1, File) != 1 ||
        fflush(File) != 0) {
        return Fail("cannot write the output file");
    }
    const bool closed = fclose(File) == 0;
    File = nullptr;
    if (!closed || !MoveFileExW(Temporary.c_str(), Target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        DeleteFileW(Temporary.c_str());
        Error = "cannot place the output file";
        return false;
    }
    return true;
}

}  // namespace kxrec
