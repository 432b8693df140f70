#include "recording/RecordingReader.h"

#include "recording/Crc32.h"
#include "recording/TestPattern.h"

#include <cstddef>
#include <cstring>

namespace kxrec {

namespace {

bool PictureSizeValid(uint32_t width, uint32_t height) {
    return width >= 2 && width % 2 == 0 && width <= MaxPictureWidth && height >= 1 &&
           height <= MaxPictureHeight;
}

}  // namespace

CRecordingReader::~CRecordingReader() {
    if (File != nullptr) fclose(File);
}

bool CRecordingReader::Fail(const std::string& message) {
    Error = message;
    return false;
}

bool CRecordingReader::ReadAt(uint64_t offset, void* data, size_t bytes) {
    return _fseeki64(File, static_cast<long long>(offset), SEEK_SET) == 0 &&
           fread(data, 1, bytes, File) == bytes;
}

bool CRecordingReader::CheckHeader() {
    if (Head.magic != RecordingMagic) return Fail("not a recording (bad magic)");
    if (Head.version != RecordingVersion || Head.headerBytes != sizeof(RecordingHeader)) {
        return Fail("unsupported recording version");
    }
    if (Head.headerCrc != Crc32(0, &Head, offsetof(RecordingHeader, headerCrc))) {
        return Fail("recording header is damaged (checksum)");
    }
    if (!PictureSizeValid(Head.width, Head.height)) return Fail("recording header has a bad picture size");
    if (Head.fpsNum == 0 || Head.fpsDen == 0 || Head.fpsNum / Head.fpsDen > MaxFrameRate) {
        return Fail("recording header has a bad frame rate");
    }
    if (Head.pictureCount > 0x7FFFFFFFu) return Fail("recording header has a bad picture count");
    return true;
}

bool CRecordingReader::Open(const std::wstring& path) {
    if (File != nullptr) {
        fclose(File);
        File = nullptr;
    }
    Index.clear();
    IsDamaged = false;
    HavePicture = false;
    HaveSound = false;
    Error.clear();
    File = _wfopen(path.c_str(), L"rb");
    if (File == nullptr) return Fail("cannot open the recording");
    if (_fseeki64(File, 0, SEEK_END) != 0) return Fail("cannot read the recording");
    const long long end = _ftelli64(File);
    if (end < 0) return Fail("cannot read the recording");
    const uint64_t fileSize = static_cast<uint64_t>(end);
    if (fileSize < sizeof(Head) || !ReadAt(0, &Head, sizeof(Head))) {
        return Fail("recording is shorter than its header");
    }
    if (!CheckHeader()) return false;
    uint64_t offset = sizeof(Head);
    RecordEntry entry{};
    while (offset < fileSize && Index.size() < Head.recordCount) {
        if (!IndexRecord(offset, fileSize, &entry)) break;
        Index.push_back(entry);
        offset += sizeof(RecordHeader) + entry.payloadBytes;
    }
    uint32_t pictures = 0;
    for (const RecordEntry& e : Index) pictures += e.IsPicture() ? 1 : 0;
    IsDamaged = Index.size() != Head.recordCount || pictures != Head.pictureCount;
    return true;
}

bool CRecordingReader::IndexRecord(uint64_t offset, uint64_t fileSize, RecordEntry* entry) {
    RecordHeader record{};
    if (offset + sizeof(record) > fileSize || !ReadAt(offset, &record, sizeof(record))) return false;
    if (offset + sizeof(record) + record.payloadBytes > fileSize) return false;
    RecordEntry e{};
    e.offset = offset;
    e.kind = record.kind;
    e.payloadBytes = record.payloadBytes;
    uint32_t fields[4] = {};
    switch (record.kind) {
    case RecordRawPicture:
    case RecordTestPicture: {
        const bool test = record.kind == RecordTestPicture;
        const size_t fieldBytes = test ? sizeof(TestPictureFields) : sizeof(PictureFields);
        if (record.payloadBytes < fieldBytes || !ReadAt(offset + sizeof(record), fields, fieldBytes)) {
            return false;
        }
        e.timeMs = fields[0];
        e.width = fields[1];
        e.height = fields[2];
        if (!PictureSizeValid(e.width, e.height)) return false;
        if (test) {
            e.frameNumber = fields[3];
            if (record.payloadBytes != fieldBytes || !TestPictureFits(e.width, e.height)) return false;
        } else if (record.payloadBytes != fieldBytes + static_cast<uint64_t>(e.width) * e.height * 2) {
            return false;
        }
        if (HavePicture && e.timeMs < LastPictureMs) return false;
        break;
    }
    case RecordPcm:
    case RecordTone: {
        const bool tone = record.kind == RecordTone;
        const size_t fieldBytes = tone ? sizeof(ToneFields) : sizeof(SoundFields);
        if (record.payloadBytes < fieldBytes || !ReadAt(offset + sizeof(record), fields, fieldBytes)) {
            return false;
        }
        e.firstSample = fields[0];
        if (tone) {
            e.sampleCount = fields[1];
            if (record.payloadBytes != fieldBytes) return false;
        } else {
            const uint32_t dataBytes = record.payloadBytes - static_cast<uint32_t>(fieldBytes);
            if (dataBytes % 2 != 0) return false;
            e.sampleCount = dataBytes / 2;
        }
        if (e.sampleCount == 0 || e.sampleCount > MaxSoundRecordSamples ||
            e.firstSample > 0xFFFFFFFFu - e.sampleCount) {
            return false;
        }
        if (HaveSound && e.firstSample != SoundEnd) return false;
        e.timeMs = e.firstSample / SamplesPerMs;
        break;
    }
    default:
        return false;
    }
    if (e.IsPicture()) {
        HavePicture = true;
        LastPictureMs = e.timeMs;
    } else {
        HaveSound = true;
        SoundEnd = e.firstSample + e.sampleCount;
    }
    *entry = e;
    return true;
}

bool CRecordingReader::Decode(size_t index, std::vector<uint8_t>& out) {
    if (File == nullptr || index >= Index.size()) return Fail("no such record");
    const RecordEntry& e = Index[index];
    RecordHeader record{};
    Payload.resize(e.payloadBytes);
    if (!ReadAt(e.offset, &record, sizeof(record)) ||
        (e.payloadBytes != 0 && !ReadAt(e.offset + sizeof(record), Payload.data(), e.payloadBytes))) {
        return Fail("cannot read a record");
    }
    uint32_t crc = Crc32(0, &record, 2 * sizeof(uint32_t));
    crc = Crc32(crc, Payload.data(), Payload.size());
    if (record.kind != e.kind || record.payloadBytes != e.payloadBytes || crc != record.crc) {
        return Fail("record is damaged (checksum)");
    }
    switch (e.kind) {
    case RecordRawPicture:
        out.assign(Payload.begin() + sizeof(PictureFields), Payload.end());
        return true;
    case RecordTestPicture:
        out.resize(static_cast<size_t>(e.width) * e.height * 2);
        return SynthesizeTestPicture(e.frameNumber, e.timeMs, e.width, e.height, out.data(), e.width * 2u) ||
               Fail("test picture does not fit");
    case RecordPcm:
        out.assign(Payload.begin() + sizeof(SoundFields), Payload.end());
        return true;
    case RecordTone:
        out.resize(static_cast<size_t>(e.sampleCount) * 2);
        SynthesizeTone(e.firstSample, e.sampleCount, reinterpret_cast<int16_t*>(out.data()));
        return true;
    default:
        return Fail("no such record");
    }
}

}  // namespace kxrec
