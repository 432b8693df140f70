#include "RecordingFile.h"

#include "recording/RecordingWriter.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>

std::wstring CRecordingFile::NewPath() {
    static LONG counter = 0;
    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    return std::wstring(folder) + L"kxreader-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
           std::to_wstring(InterlockedIncrement(&counter)) + L".kxr";
}

CRecordingFile::CRecordingFile(uint32_t width, uint32_t height, uint32_t fps, uint32_t durationMs,
                               bool sound)
    : FilePath(NewPath()) {
    kxrec::CRecordingWriter writer;
    kxrec::RecordingSettings settings;
    settings.width = width;
    settings.height = height;
    settings.fpsNum = fps;
    settings.fpsDen = 1;
    if (!writer.Begin(FilePath, settings)) {
        Problem = writer.LastError();
        return;
    }
    const uint32_t frames = durationMs * fps / 1000;
    const uint32_t samples = sound ? durationMs * kxrec::SamplesPerMs : 0;
    uint32_t nextSample = 0;
    bool ok = true;
    auto soundUntil = [&](uint64_t ms) {
        while (ok && nextSample < samples && nextSample / kxrec::SamplesPerMs < ms) {
            const uint32_t count = std::min(kxrec::SoundPieceSamples, samples - nextSample);
            ok = writer.AddTone(nextSample, count);
            nextSample += count;
        }
    };
    for (uint32_t n = 0; ok && n < frames; ++n) {
        const uint32_t t = n * 1000 / fps;
        soundUntil(t);
        ok = ok && writer.AddTestPicture(t, n, width, height);
    }
    soundUntil(UINT64_MAX);
    if (!ok || !writer.Commit()) Problem = writer.LastError();
}

CRecordingFile::CRecordingFile(const char* junk) : FilePath(NewPath()) {
    FILE* file = _wfopen(FilePath.c_str(), L"wb");
    if (!file) {
        Problem = "cannot create the file";
        return;
    }
    std::fputs(junk, file);
    std::fclose(file);
}

CRecordingFile::~CRecordingFile() { DeleteFileW(FilePath.c_str()); }
