#include "tools/kxrec/KxrecCommands.h"

#include "recording/RecordingReader.h"
#include "recording/RecordingWriter.h"
#include "recording/TestPattern.h"
#include "tools/kxrec/DecodeSession.h"
#include "tools/kxrec/Interleaver.h"
#include "tools/kxrec/WavReader.h"
#include "tools/kxrec/Y4mReader.h"

#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <sstream>

namespace kxrec {

namespace {

constexpr char Usage[] =
    "usage: kxrec make OUT --size WxH --fps N --seconds S [--no-sound] [--size-change-at S:WxH ...] "
    "[--info-delay MS] [--raw] | import OUT --y4m FILE [--wav FILE] | show FILE | decode FILE";
constexpr double MaxSeconds = 3600.0;
constexpr DWORD DecodeLimitMs = 120000;

std::string Narrow(const std::wstring& text) {
    std::string result;
    for (wchar_t c : text) result.push_back(c < 128 ? static_cast<char>(c) : '?');
    return result;
}

struct PictureSize {
    uint32_t width;
    uint32_t height;
};

bool ParseUnsigned(const std::string& text, uint32_t* value) {
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    *value = static_cast<uint32_t>(strtoul(text.c_str(), nullptr, 10));
    return true;
}

bool ParseSize(const std::string& text, PictureSize* size) {
    const size_t x = text.find('x');
    return x != std::string::npos && ParseUnsigned(text.substr(0, x), &size->width) &&
           ParseUnsigned(text.substr(x + 1), &size->height);
}

bool ParseSeconds(const std::string& text, double* seconds) {
    if (text.empty() || text.find_first_not_of("0123456789.") != std::string::npos) return false;
    char* end = nullptr;
    *seconds = strtod(text.c_str(), &end);
    return end != nullptr && *end == '\0' && std::isfinite(*seconds);
}

struct SizeChange {
    uint32_t atMs;
    PictureSize size;
};

int Fail(std::string& error, const std::string& message) {
    error = message;
    return 1;
}

int RunMake(const std::vector<std::wstring>& args, std::string& out, std::string& error) {
    if (args.size() < 2) return Fail(error, Usage);
    const std::wstring output = args[1];
    PictureSize size{0, 0};
    uint32_t fpsNum = 0;
    uint32_t fpsDen = 1;
    double seconds = -1;
    bool sound = true;
    bool raw = false;
    uint32_t infoDelay = 0;
    std::vector<SizeChange> changes;
    for (size_t i = 2; i < args.size(); ++i) {
        const std::string option = Narrow(args[i]);
        const bool hasValue = i + 1 < args.size();
        const std::string value = hasValue ? Narrow(args[i + 1]) : std::string();
        if (option == "--no-sound") {
            sound = false;
        } else if (option == "--raw") {
            raw = true;
        } else if (!hasValue) {
            return Fail(error, "unknown option or missing value: " + option);
        } else if (option == "--size") {
            if (!ParseSize(value, &size)) return Fail(error, "--size wants WxH, got " + value);
            ++i;
        } else if (option == "--fps") {
            const size_t slash = value.find('/');
            if (slash == std::string::npos ? !ParseUnsigned(value, &fpsNum)
                                           : !ParseUnsigned(value.substr(0, slash), &fpsNum) ||
                                                 !ParseUnsigned(value.substr(slash + 1), &fpsDen)) {
                return Fail(error, "--fps wants N or N/D, got " + value);
            }
            ++i;
        } else if (option == "--seconds") {
            if (!ParseSeconds(value, &seconds)) return Fail(error, "--seconds wants a number, got " + value);
            ++i;
        } else if (option == "--info-delay") {
            if (!ParseUnsigned(value, &infoDelay)) return Fail(error, "--info-delay wants milliseconds, got " + value);
            ++i;
        } else if (option == "--size-change-at") {
            const size_t colon = value.find(':');
            double at = 0;
            SizeChange change{};
            if (colon == std::string::npos || !ParseSeconds(value.substr(0, colon), &at) || at > MaxSeconds ||
                !ParseSize(value.substr(colon + 1), &change.size)) {
                return Fail(error, "--size-change-at wants SECONDS:WxH, got " + value);
            }
            change.atMs = static_cast<uint32_t>(std::lround(at * 1000));
            changes.push_back(change);
            ++i;
        } else {
            return Fail(error, "unknown option: " + option);
        }
    }
    if (size.width == 0) return Fail(error, "make needs --size WxH");
    if (fpsNum == 0 || fpsDen == 0 || fpsNum / fpsDen > MaxFrameRate) {
        return Fail(error, "make needs --fps between 1/N and 1000");
    }
    if (!(seconds > 0) || seconds > MaxSeconds) return Fail(error, "make needs --seconds between 0 and 3600");
    std::stable_sort(changes.begin(), changes.end(),
                     [](const SizeChange& a, const SizeChange& b) { return a.atMs < b.atMs; });
    std::vector<PictureSize> allSizes{size};
    for (const SizeChange& c : changes) allSizes.push_back(c.size);
    for (const PictureSize& s : allSizes) {
        if (!TestPictureFits(s.width, s.height)) {
            return Fail(error, "picture size " + std::to_string(s.width) + "x" + std::to_string(s.height) +
                                   " cannot hold a test picture (even width, at least 32x16, at most 4096x4096)");
        }
    }
    const uint32_t durationMs = static_cast<uint32_t>(std::lround(seconds * 1000));
    const uint32_t frames = static_cast<uint32_t>(1ull * durationMs * fpsNum / (1000ull * fpsDen));
    if (frames == 0) return Fail(error, "recording would hold no picture");
    const uint32_t samples = sound ? durationMs * SamplesPerMs : 0;

    CRecordingWriter writer;
    RecordingSettings settings;
    settings.width = size.width;
    settings.height = size.height;
    settings.fpsNum = fpsNum;
    settings.fpsDen = fpsDen;
    settings.infoDelayMs = infoDelay;
    if (!writer.Begin(output, settings)) return Fail(error, writer.LastError());
    CInterleaver order(fpsNum, fpsDen);
    std::vector<uint8_t> picture;
    std::vector<int16_t> pcm;
    auto writeSound = [&](uint32_t first, uint32_t count) {
        if (!raw) return writer.AddTone(first, count);
        pcm.resize(count);
        SynthesizeTone(first, count, pcm.data());
        return writer.AddPcm(first, pcm.data(), count);
    };
    for (uint32_t n = 0; n < frames; ++n) {
        const uint32_t t = order.PictureTime(n);
        PictureSize current = size;
        for (const SizeChange& c : changes) {
            if (c.atMs <= t) current = c.size;
        }
        if (!order.SoundBefore(t, samples, writeSound)) return Fail(error, writer.LastError());
        bool written;
        if (raw) {
            picture.resize(static_cast<size_t>(current.width) * current.height * 2);
            SynthesizeTestPicture(n, t, current.width, current.height, picture.data(), current.width * 2u);
            written = writer.AddRawPicture(t, current.width, current.height, picture.data());
        } else {
            written = writer.AddTestPicture(t, n, current.width, current.height);
        }
        if (!written) return Fail(error, writer.LastError());
    }
    if (!order.SoundBefore(UINT64_MAX, samples, writeSound) || !writer.Commit()) {
        return Fail(error, writer.LastError());
    }
    std::ostringstream text;
    text << "wrote " << Narrow(output) << ": " << frames << " pictures, " << samples << " sound samples, "
         << writer.Header().durationMs << " ms\n";
    out += text.str();
    return 0;
}

int RunImport(const std::vector<std::wstring>& args, std::string& out, std::string& error) {
    if (args.size() < 2) return Fail(error, Usage);
    const std::wstring output = args[1];
    std::wstring y4mPath;
    std::wstring wavPath;
    for (size_t i = 2; i < args.size(); i += 2) {
        const std::string option = Narrow(args[i]);
        if (i + 1 >= args.size()) return Fail(error, "missing value for " + option);
        if (option == "--y4m") {
            y4mPath = args[i + 1];
        } else if (option == "--wav") {
            wavPath = args[i + 1];
        } else {
            return Fail(error, "unknown option: " + option);
        }
    }
    if (y4mPath.empty()) return Fail(error, "import needs --y4m FILE");
    CY4mReader video;
    if (!video.Open(y4mPath)) return Fail(error, Narrow(y4mPath) + ": " + video.LastError());
    CWavReader audio;
    if (!wavPath.empty() && !audio.Read(wavPath)) return Fail(error, Narrow(wavPath) + ": " + audio.LastError());
    const std::vector<int16_t>& samples = audio.Samples();
    if (samples.size() > 0xFFFFFFFFu / 2) return Fail(error, "WAV file is too long");
    const uint32_t totalSamples = static_cast<uint32_t>(samples.size());

    CRecordingWriter writer;
    RecordingSettings settings;
    settings.width = video.Width();
    settings.height = video.Height();
    settings.fpsNum = video.FpsNum();
    settings.fpsDen = video.FpsDen();
    if (!writer.Begin(output, settings)) return Fail(error, writer.LastError());
    CInterleaver order(video.FpsNum(), video.FpsDen());
    auto writeSound = [&](uint32_t first, uint32_t count) { return writer.AddPcm(first, &samples[first], count); };
    std::vector<uint8_t> picture;
    uint32_t n = 0;
    for (;;) {
        const int got = video.ReadPicture(picture);
        if (got < 0) return Fail(error, Narrow(y4mPath) + ": " + video.LastError());
        if (got == 0) break;
        const uint32_t t = order.PictureTime(n);
        if (!order.SoundBefore(t, totalSamples, writeSound) ||
            !writer.AddRawPicture(t, video.Width(), video.Height(), picture.data())) {
            return Fail(error, writer.LastError());
        }
        ++n;
    }
    if (n == 0) return Fail(error, Narrow(y4mPath) + ": Y4M file has no pictures");
    if (!order.SoundBefore(UINT64_MAX, totalSamples, writeSound) || !writer.Commit()) {
        return Fail(error, writer.LastError());
    }
    std::ostringstream text;
    text << "wrote " << Narrow(output) << ": " << n << " pictures " << video.Width() << "x" << video.Height()
         << ", " << totalSamples << " sound samples, " << writer.Header().durationMs << " ms\n";
    out += text.str();
    return 0;
}

const char* KindName(uint32_t kind) {
    switch (kind) {
    case RecordRawPicture: return "raw pictures";
    case RecordTestPicture: return "test pictures";
    case RecordPcm: return "PCM sound";
    default: return "tone sound";
    }
}

int RunShow(const std::vector<std::wstring>& args, std::string& out, std::string& error) {
    if (args.size() != 2) return Fail(error, Usage);
    CRecordingReader reader;
    if (!reader.Open(args[1])) return Fail(error, Narrow(args[1]) + ": " + reader.LastError());
    const RecordingHeader& h = reader.Header();
    const std::vector<RecordEntry>& records = reader.Records();
    std::ostringstream text;
    text << "recording " << Narrow(args[1]) << "\n"
         << "  header: " << h.width << "x" << h.height << ", " << h.fpsNum << "/" << h.fpsDen << " fps, "
         << h.pictureCount << " pictures, " << h.soundSamples << " sound samples, " << h.durationMs
         << " ms, " << h.recordCount << " records, info delay " << h.infoDelayMs << " ms\n";
    uint32_t counts[5] = {};
    std::ostringstream sizes;
    uint32_t runWidth = 0, runHeight = 0, runCount = 0;
    auto flushRun = [&] {
        if (runCount != 0) sizes << " " << runWidth << "x" << runHeight << " x" << runCount;
    };
    uint32_t firstPictureMs = 0, lastPictureMs = 0;
    uint64_t soundSamples = 0;
    for (const RecordEntry& e : records) {
        ++counts[e.kind];
        if (e.IsPicture()) {
            if (counts[RecordRawPicture] + counts[RecordTestPicture] == 1) firstPictureMs = e.timeMs;
            lastPictureMs = e.timeMs;
            if (e.width != runWidth || e.height != runHeight) {
                flushRun();
                runWidth = e.width;
                runHeight = e.height;
                runCount = 0;
            }
            ++runCount;
        } else {
            soundSamples += e.sampleCount;
        }
    }
    flushRun();
    text << "  records:";
    for (uint32_t kind = RecordRawPicture; kind <= RecordTone; ++kind) text << " " << counts[kind] << " " << KindName(kind) << (kind < RecordTone ? "," : "\n");
    if (counts[RecordRawPicture] + counts[RecordTestPicture] != 0) {
        text << "  pictures: " << firstPictureMs << " ms .. " << lastPictureMs << " ms, sizes:" << sizes.str() << "\n";
    }
    text << "  sound: " << soundSamples << " samples\n";
    std::vector<uint8_t> decoded;
    size_t bad = records.size();
    for (size_t i = 0; i < records.size(); ++i) {
        if (!reader.Decode(i, decoded)) {
            bad = i;
            break;
        }
    }
    out += text.str();
    if (bad != records.size()) {
        return Fail(error, Narrow(args[1]) + ": record " + std::to_string(bad) + " is damaged");
    }
    if (reader.Damaged()) {
        return Fail(error, Narrow(args[1]) + ": damaged or cut short after record " + std::to_string(records.size()));
    }
    out += "  all " + std::to_string(records.size()) + " records intact\n";
    return 0;
}

std::wstring LibraryBesideProgram() {
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, length);
    const size_t slash = folder.find_last_of(L"\\/");
    folder = slash == std::wstring::npos ? std::wstring() : folder.substr(0, slash + 1);
    return folder + L"VUVezaVID.dll";
}

int RunDecode(const std::vector<std::wstring>& args, std::string& out, std::string& error) {
    if (args.size() != 2) return Fail(error, Usage);
    CDecodeSession session;
    DecodeReport r;
    if (!session.Run(LibraryBesideProgram(), args[1], DecodeLimitMs, &r)) {
        return Fail(error, Narrow(args[1]) + ": " + session.LastError());
    }
    std::ostringstream text;
    text << "decoded " << Narrow(args[1]) << "\n";
    if (r.infoReceived) {
        text << "  1178 received: " << r.totalFrames << " frames, " << r.durationMs << " ms\n";
    } else {
        text << "  1178 not received\n";
    }
    text << "  pictures: " << r.pictures << ", sizes:";
    for (const auto& run : r.sizeRuns) text << " " << run.first.first << "x" << run.first.second << " x" << run.second;
    text << "\n  test pictures intact: " << r.testPictures << " of " << r.pictures
         << (r.testPicturesInOrder ? ", in order\n" : ", OUT OF ORDER\n");
    text << "  sound: " << r.soundBytes << " bytes in " << r.soundPieces << " pieces, tone intact: " << r.tonePieces
         << " of " << r.soundPieces;
    if (r.tonePieces != 0) text << (r.toneContiguous ? ", contiguous from sample " : ", WITH GAPS from sample ") << r.firstToneSample;
    text << "\n  1124 " << (r.endReceived ? "received" : "not received") << "\n";
    out += text.str();
    // Synthetic content must check out completely; imported content only
    // has to arrive.
    if (!r.infoReceived || !r.endReceived) return Fail(error, "the library did not send both notices");
    if (r.totalFrames < 0 || static_cast<uint32_t>(r.totalFrames) != r.pictures) {
        return Fail(error, "the frame total does not match the pictures delivered");
    }
    if ((r.testPictures != 0 && (r.testPictures != r.pictures || !r.testPicturesInOrder)) ||
        (r.tonePieces != 0 && (r.tonePieces != r.soundPieces || !r.toneContiguous))) {
        return Fail(error, "delivered pictures or sound do not check out");
    }
    out += "  result: ok\n";
    return 0;
}

}  // namespace

int RunKxrec(const std::vector<std::wstring>& args, std::string& out, std::string& error) {
    const std::string command = args.empty() ? std::string() : Narrow(args[0]);
    if (command == "make") return RunMake(args, out, error);
    if (command == "import") return RunImport(args, out, error);
    if (command == "show") return RunShow(args, out, error);
    if (command == "decode") return RunDecode(args, out, error);
    error = Usage;
    return 2;
}

}  // namespace kxrec
