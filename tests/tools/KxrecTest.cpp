#include "TempFolder.h"
#include "recording/RecordingReader.h"
#include "recording/TestPattern.h"
#include "tools/kxrec/KxrecCommands.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

using namespace kxrec;

namespace {

struct Outcome {
    int result;
    std::string out;
    std::string error;
};

Outcome Kxrec(std::vector<std::wstring> args) {
    Outcome o{};
    o.result = RunKxrec(args, o.out, o.error);
    return o;
}

void WriteBytes(const std::wstring& path, const std::string& bytes) {
    FILE* f = _wfopen(path.c_str(), L"wb");
    ASSERT_NE(f, nullptr);
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
}

std::string ReadBytes(const std::wstring& path) {
    std::string bytes;
    FILE* f = _wfopen(path.c_str(), L"rb");
    if (f == nullptr) return bytes;
    int c;
    while ((c = fgetc(f)) != EOF) bytes.push_back(static_cast<char>(c));
    fclose(f);
    return bytes;
}

bool Exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string Le32(uint32_t v) {
    return std::string{static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
                       static_cast<char>(v >> 24)};
}

std::string Le16(uint16_t v) {
    return std::string{static_cast<char>(v), static_cast<char>(v >> 8)};
}

std::string Wav(uint16_t channels, uint32_t rate, const std::vector<int16_t>& samples) {
    std::string data;
    for (int16_t s : samples) data += Le16(static_cast<uint16_t>(s));
    std::string fmt = Le16(1) + Le16(channels) + Le32(rate) + Le32(rate * 2 * channels) + Le16(2 * channels) + Le16(16);
    std::string body = "WAVE" + std::string("fmt ") + Le32(16) + fmt + "data" + Le32(static_cast<uint32_t>(data.size())) + data;
    return "RIFF" + Le32(static_cast<uint32_t>(body.size())) + body;
}

// A 4x4 Y4M picture: Y = base + index, chroma planes count up from 100 and 200.
std::string Y4mPicture(bool chroma422, uint8_t base) {
    std::string p = "FRAME\n";
    for (int i = 0; i < 16; ++i) p.push_back(static_cast<char>(base + i));
    const int chroma = chroma422 ? 8 : 4;
    for (int i = 0; i < chroma; ++i) p.push_back(static_cast<char>(100 + i));
    for (int i = 0; i < chroma; ++i) p.push_back(static_cast<char>(200 + i));
    return p;
}

// Reads every record back and checks the test content in order.
void ExpectTestContent(const std::wstring& path, uint32_t pictures, uint32_t samples, RecordKind pictureKind,
                       RecordKind soundKind) {
    CRecordingReader reader;
    ASSERT_TRUE(reader.Open(path)) << reader.LastError();
    EXPECT_FALSE(reader.Damaged());
    uint32_t frame = 0;
    uint32_t sample = 0;
    std::vector<uint8_t> out;
    for (size_t i = 0; i < reader.Records().size(); ++i) {
        const RecordEntry& e = reader.Records()[i];
        ASSERT_TRUE(reader.Decode(i, out));
        if (e.IsPicture()) {
            EXPECT_EQ(e.kind, static_cast<uint32_t>(pictureKind));
            TestPictureId id{};
            ASSERT_TRUE(CheckTestPicture(out.data(), e.width, e.height, e.width * 2, &id));
            EXPECT_EQ(id.frameNumber, frame++);
        } else {
            EXPECT_EQ(e.kind, static_cast<uint32_t>(soundKind));
            uint32_t first = 0;
            ASSERT_TRUE(CheckTone(out.data(), out.size(), &first));
            EXPECT_EQ(first, sample);
            sample += static_cast<uint32_t>(out.size() / 2);
        }
    }
    EXPECT_EQ(frame, pictures);
    EXPECT_EQ(sample, samples);
}

}  // namespace

TEST(KxrecMake, TestPicturesAndToneWithSizeChangesAndInfoDelay) {
    CTempFolder folder;
    const std::wstring out = folder.File(L"make.kxr");
    const Outcome o = Kxrec({L"make", out, L"--size", L"320x240", L"--fps", L"25", L"--seconds", L"2",
                           L"--size-change-at", L"1:160x120", L"--info-delay", L"250"});
    ASSERT_EQ(o.result, 0) << o.error;
    ExpectTestContent(out, 50, 16000, RecordTestPicture, RecordTone);
    CRecordingReader reader;
    ASSERT_TRUE(reader.Open(out));
    EXPECT_EQ(reader.Header().infoDelayMs, 250u);
    EXPECT_EQ(reader.Header().durationMs, 2000u);
    EXPECT_EQ(reader.Records().front().width, 320u);
    EXPECT_EQ(reader.Records()[reader.Records().size() - 2].width, 160u);  // the last picture, before its sound
    EXPECT_EQ(folder.List(), L"make.kxr;");
}

TEST(KxrecMake, RawPicturesAndPcmAndSilentRecordings) {
    CTempFolder folder;
    const std::wstring raw = folder.File(L"raw.kxr");
    ASSERT_EQ(Kxrec({L"make", raw, L"--size", L"64x48", L"--fps", L"30000/1001", L"--seconds", L"1.5", L"--raw"}).result, 0);
    ExpectTestContent(raw, 44, 12000, RecordRawPicture, RecordPcm);
    const std::wstring mute = folder.File(L"mute.kxr");
    ASSERT_EQ(Kxrec({L"make", mute, L"--size", L"64x48", L"--fps", L"10", L"--seconds", L"1", L"--no-sound"}).result, 0);
    ExpectTestContent(mute, 10, 0, RecordTestPicture, RecordTone);
}

TEST(KxrecShowAndDecode, SummariseAndPlayARecording) {
    CTempFolder folder;
    const std::wstring file = folder.File(L"s.kxr");
    ASSERT_EQ(Kxrec({L"make", file, L"--size", L"64x48", L"--fps", L"25", L"--seconds", L"1"}).result, 0);
    Outcome show = Kxrec({L"show", file});
    ASSERT_EQ(show.result, 0) << show.error;
    EXPECT_NE(show.out.find("25 pictures, 8000 sound samples, 1000 ms"), std::string::npos) << show.out;
    EXPECT_NE(show.out.find("all 50 records intact"), std::string::npos) << show.out;
    Outcome decode = Kxrec({L"decode", file});
    ASSERT_EQ(decode.result, 0) << decode.error << "\n" << decode.out;
    EXPECT_NE(decode.out.find("1178 received: 25 frames, 1000 ms"), std::string::npos) << decode.out;
    EXPECT_NE(decode.out.find("test pictures intact: 25 of 25, in order"), std::string::npos) << decode.out;
    EXPECT_NE(decode.out.find("result: ok"), std::string::npos) << decode.out;

    const std::string bytes = ReadBytes(file);
    WriteBytes(folder.File(L"cut.kxr"), bytes.substr(0, bytes.size() - 5));
    show = Kxrec({L"show", folder.File(L"cut.kxr")});
    EXPECT_NE(show.result, 0);
    EXPECT_NE(show.error.find("cut short"), std::string::npos) << show.error;
}

TEST(KxrecImport, Y4m420AndWavBecomeYuy2AndPcm) {
    CTempFolder folder;
    const std::wstring y4m = folder.File(L"in.y4m");
    WriteBytes(y4m, "YUV4MPEG2 W4 H4 F30:1 Ip A1:1 C420jpeg XYSCSS=420JPEG\n" + Y4mPicture(false, 0) +
                        Y4mPicture(false, 50));
    std::vector<int16_t> samples(1000);
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<int16_t>(i * 37 - 9000);
    const std::wstring wav = folder.File(L"in.wav");
    WriteBytes(wav, Wav(1, 8000, samples));
    const std::wstring out = folder.File(L"out.kxr");
    const Outcome o = Kxrec({L"import", out, L"--y4m", y4m, L"--wav", wav});
    ASSERT_EQ(o.result, 0) << o.error;

    CRecordingReader reader;
    ASSERT_TRUE(reader.Open(out));
    EXPECT_EQ(reader.Header().fpsNum, 30u);
    std::vector<uint8_t> pictureBytes;
    std::vector<int16_t> sound;
    std::vector<uint32_t> times;
    for (size_t i = 0; i < reader.Records().size(); ++i) {
        std::vector<uint8_t> decoded;
        ASSERT_TRUE(reader.Decode(i, decoded));
        const RecordEntry& e = reader.Records()[i];
        if (e.IsPicture()) {
            EXPECT_EQ(e.kind, static_cast<uint32_t>(RecordRawPicture));
            times.push_back(e.timeMs);
            pictureBytes.insert(pictureBytes.end(), decoded.begin(), decoded.end());
        } else {
            EXPECT_EQ(e.kind, static_cast<uint32_t>(RecordPcm));
            const int16_t* s = reinterpret_cast<const int16_t*>(decoded.data());
            sound.insert(sound.end(), s, s + decoded.size() / 2);
        }
    }
    EXPECT_EQ(times, (std::vector<uint32_t>{0, 33}));
    EXPECT_EQ(sound, samples);
    // Row 0 and 1 share chroma row 0; rows 2 and 3 chroma row 1.
    const std::vector<uint8_t> first = {0, 100, 1, 200, 2, 101, 3, 201, 4, 100, 5, 200, 6, 101, 7, 201,
                                        8, 102, 9, 202, 10, 103, 11, 203, 12, 102, 13, 202, 14, 103, 15, 203};
    ASSERT_EQ(pictureBytes.size(), 64u);
    EXPECT_EQ(std::vector<uint8_t>(pictureBytes.begin(), pictureBytes.begin() + 32), first);
    EXPECT_EQ(pictureBytes[32], 50);
}

TEST(KxrecImport, Y4m422KeepsEveryChromaRow) {
    CTempFolder folder;
    const std::wstring y4m = folder.File(L"in.y4m");
    WriteBytes(y4m, "YUV4MPEG2 W4 H4 F25:1 C422\n" + Y4mPicture(true, 0));
    const std::wstring out = folder.File(L"out.kxr");
    ASSERT_EQ(Kxrec({L"import", out, L"--y4m", y4m}).result, 0);
    CRecordingReader reader;
    ASSERT_TRUE(reader.Open(out));
    ASSERT_EQ(reader.Records().size(), 1u);
    std::vector<uint8_t> decoded;
    ASSERT_TRUE(reader.Decode(0, decoded));
    const std::vector<uint8_t> expected = {0, 100, 1, 200, 2, 101, 3, 201, 4, 102, 5, 202, 6, 103, 7, 203,
                                           8, 104, 9, 204, 10, 105, 11, 205, 12, 106, 13, 206, 14, 107, 15, 207};
    EXPECT_EQ(decoded, expected);
}

TEST(KxrecRefusals, BadArgumentsAndInputsGiveOneLineAndNoOutput) {
    CTempFolder folder;
    const std::wstring out = folder.File(L"out.kxr");
    const std::wstring y4m = folder.File(L"bad.y4m");
    const std::wstring wav = folder.File(L"bad.wav");
    const std::wstring good = folder.File(L"good.y4m");
    WriteBytes(good, "YUV4MPEG2 W4 H4 F25:1\n" + Y4mPicture(false, 0));
    const struct {
        const char* content;  // for bad.y4m / bad.wav, or null
        bool isWav;
        std::vector<std::wstring> args;
    } cases[] = {
        {nullptr, false, {L"make", out, L"--fps", L"25", L"--seconds", L"1"}},
        {nullptr, false, {L"make", out, L"--size", L"33x48", L"--fps", L"25", L"--seconds", L"1"}},
        {nullptr, false, {L"make", out, L"--size", L"8x8", L"--fps", L"25", L"--seconds", L"1"}},
        {nullptr, false, {L"make", out, L"--size", L"64x48", L"--fps", L"0", L"--seconds", L"1"}},
        {nullptr, false, {L"make", out, L"--size", L"64x48", L"--fps", L"25", L"--seconds", L"-1"}},
        {nullptr, false, {L"make", out, L"--size", L"64x48", L"--fps", L"25", L"--seconds", L"abc"}},
        {nullptr, false, {L"make", out, L"--size", L"64x48", L"--fps", L"25", L"--seconds", L"1", L"--bogus"}},
        {nullptr, false, {L"make", out, L"--size", L"64x48", L"--fps", L"25", L"--seconds"}},
        {nullptr, false, {L"make", out, L"--size", L"64x48", L"--fps", L"25", L"--seconds", L"1", L"--size-change-at", L"1:7x7"}},
        {nullptr, false, {L"import", out}},
        {"not a y4m file\n", false, {L"import", out, L"--y4m", y4m}},
        {"YUV4MPEG2 W4 H4 F25:1 C444\n", false, {L"import", out, L"--y4m", y4m}},
        {"YUV4MPEG2 W5 H4 F25:1\n", false, {L"import", out, L"--y4m", y4m}},
        {"YUV4MPEG2 W99999 H4 F25:1\n", false, {L"import", out, L"--y4m", y4m}},
        {"YUV4MPEG2 W4 H4 F25:1\nFRAME\nshort", false, {L"import", out, L"--y4m", y4m}},
        {"YUV4MPEG2 W4 H4 F25:1\n", false, {L"import", out, L"--y4m", y4m}},
        {nullptr, false, {L"import", out, L"--y4m", folder.File(L"missing.y4m")}},
        {"RIFF junk", true, {L"import", out, L"--y4m", good, L"--wav", wav}},
        {nullptr, false, {L"show", folder.File(L"missing.kxr")}},
        {nullptr, false, {L"decode", folder.File(L"missing.kxr")}},
        {nullptr, false, {L"frobnicate"}},
        {nullptr, false, {}},
    };
    for (const auto& c : cases) {
        if (c.content != nullptr) WriteBytes(c.isWav ? wav : y4m, c.content);
        const Outcome o = Kxrec(c.args);
        const std::string what = c.args.empty() ? "(no arguments)" : std::to_string(&c - cases);
        EXPECT_NE(o.result, 0) << "case " << what;
        EXPECT_FALSE(o.error.empty()) << "case " << what;
        EXPECT_EQ(o.error.find('\n'), std::string::npos) << "case " << what;
        EXPECT_FALSE(Exists(out)) << "case " << what << " left an output";
    }
    const std::vector<std::vector<int16_t>> noSamples = {std::vector<int16_t>(10)};
    for (const std::string& badWav : {Wav(2, 8000, noSamples[0]), Wav(1, 44100, noSamples[0]),
                                      Wav(1, 8000, noSamples[0]).substr(0, 50)}) {
        WriteBytes(wav, badWav);
        const Outcome o = Kxrec({L"import", out, L"--y4m", good, L"--wav", wav});
        EXPECT_NE(o.result, 0);
        EXPECT_FALSE(Exists(out));
    }
}

TEST(KxrecRefusals, AFailedImportLeavesAnExistingOutputAsItWas) {
    CTempFolder folder;
    const std::wstring out = folder.File(L"keep.kxr");
    WriteBytes(out, "previous content");
    const std::wstring y4m = folder.File(L"cut.y4m");
    WriteBytes(y4m, "YUV4MPEG2 W4 H4 F25:1\n" + Y4mPicture(false, 0) + Y4mPicture(false, 1).substr(0, 12));
    const Outcome o = Kxrec({L"import", out, L"--y4m", y4m});
    EXPECT_NE(o.result, 0);
    EXPECT_EQ(ReadBytes(out), "previous content");
    EXPECT_EQ(folder.List(), L"cut.y4m;keep.kxr;");
}

TEST(KxrecProgram, ExitCodeAndOneErrorLineFromTheExecutable) {
    CTempFolder folder;
    const std::wstring out = folder.File(L"p.kxr");
    auto runProgram = [](const std::wstring& args, std::string* errors) -> DWORD {
        SECURITY_ATTRIBUTES sa{sizeof(sa), nullptr, TRUE};
        HANDLE readEnd = nullptr;
        HANDLE writeEnd = nullptr;
        if (!CreatePipe(&readEnd, &writeEnd, &sa, 0)) return 0xFFFFFFFF;
        SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
        STARTUPINFOW si{};
        si.cb = sizeof(si);
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        si.hStdOutput = writeEnd;
        si.hStdError = writeEnd;
        PROCESS_INFORMATION pi{};
        std::wstring line = L"kxrec.exe " + args;
        const BOOL started = CreateProcessW(L"kxrec.exe", &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
        CloseHandle(writeEnd);
        if (!started) {
            CloseHandle(readEnd);
            return 0xFFFFFFFF;
        }
        char buffer[512];
        DWORD got = 0;
        while (ReadFile(readEnd, buffer, sizeof(buffer), &got, nullptr) && got != 0) errors->append(buffer, got);
        CloseHandle(readEnd);
        DWORD code = 0xFFFFFFFF;
        if (WaitForSingleObject(pi.hProcess, 60000) == WAIT_OBJECT_0) GetExitCodeProcess(pi.hProcess, &code);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
        return code;
    };
    std::string text;
    EXPECT_NE(runProgram(L"make \"" + out + L"\" --size 64x48 --fps 25", &text), 0u);
    EXPECT_EQ(text.rfind("kxrec: ", 0), 0u) << text;
    EXPECT_EQ(text.find('\n'), text.size() - 1) << text;
    EXPECT_FALSE(Exists(out));
    text.clear();
    EXPECT_EQ(runProgram(L"make \"" + out + L"\" --size 64x48 --fps 25 --seconds 1", &text), 0u) << text;
    EXPECT_TRUE(Exists(out));
}
