#include "AppError.h"
#include "Commands.h"
#include "Console.h"
#include "ContactSheet.h"
#include "FramePositions.h"
#include "HResultText.h"
#include "JsonObject.h"
#include "OutputFile.h"
#include "PictureCapture.h"
#include "PngWriter.h"
#include "SourceGraph.h"
#include "StreamTally.h"

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cwchar>
#include <limits>
#include <mutex>

namespace {

// How long the picture may take after the graph runs.
constexpr int PictureWaitMs = 30000;

long long PictureNumber(const std::wstring& text) {
    wchar_t* end = nullptr;
    const unsigned long long value = wcstoull(text.c_str(), &end, 10);
    if (text.empty() || text[0] == L'-' || !end || *end != L'\0' || value > 0x7FFFFFFFull) {
        throw CAppError(ExitCode::Usage, L"the picture number is a whole number from 0, not \"" + text +
                                             L"\" (see kxvplay --help)");
    }
    return static_cast<long long>(value);
}

}  // namespace

void RunFrame(const CommandOptions& options) {
    const long long wanted = PictureNumber(options.Arguments[1]);
    COutputFile output(options.Arguments[2]);
    const CPngWriter png;
    CSourceGraph graph;
    graph.Open(options.Arguments[0]);
    const SourceFacts facts = graph.Facts();
    CFramePositions pictures(graph.SourcePin(0).Get());
    const long long total = pictures.Total();
    if (wanted >= total) {
        throw CAppError(ExitCode::Usage, L"picture " + std::to_wstring(wanted) + L" is past the last one (" +
                                             std::to_wstring(total) + L" pictures, numbered from 0)");
    }
    CPictureCapture capture(facts);
    // The first picture of the run, converted on the video worker.
    std::mutex lock;
    std::condition_variable arrival;
    bool arrived = false;   // guarded by lock
    bool whole = false;     // guarded by lock
    BgrImage image;         // guarded by lock
    const ComPtr<CStreamTally> video =
        CStreamTally::Create(CStreamTally::Kind::Video, std::numeric_limits<REFERENCE_TIME>::max());
    video->SetSampleHandler([&](uint64_t index, REFERENCE_TIME, const BYTE* data, long bytes) {
        if (index != 0) return;
        std::lock_guard<std::mutex> hold(lock);
        whole = capture.Convert(data, bytes, &image);
        arrived = true;
        arrival.notify_all();
    });
    graph.GrabIntoNull(0, video.Get());
    graph.Unclocked();
    pictures.SeekTo(wanted);
    graph.Run();
    bool came;
    {
        std::unique_lock<std::mutex> hold(lock);
        came = arrival.wait_for(hold, std::chrono::milliseconds(PictureWaitMs), [&] { return arrived; });
    }
    graph.Stop();
    if (!came) {
        throw CAppError(ExitCode::GraphFailure, L"graph failure: picture " + std::to_wstring(wanted) +
                                                    L" did not arrive within 30 s");
    }
    if (!whole) throw CAppError(ExitCode::GraphFailure, L"picture " + std::to_wstring(wanted) + L" arrived cut short");
    const HRESULT hr = png.Write(output.TemporaryPath(), image);
    if (FAILED(hr)) {
        throw CAppError(ExitCode::OutputFailure, L"cannot write " + output.FinalPath() + L": " + DescribeHResult(hr));
    }
    output.Commit();
    const REFERENCE_TIME at = std::llround(static_cast<double>(wanted) * facts.PicturePeriod);
    if (options.Json) {
        CConsole::OutUtf8(CJsonObject()
                              .Add("file", graph.FullPath())
                              .Add("output", output.FinalPath())
                              .Add("frame", static_cast<int64_t>(wanted))
                              .Add("time_seconds", static_cast<double>(at) / 1e7)
                              .Text() +
                          "\n");
    } else {
        const std::string label = CContactSheet::TimeLabel(at);
        CConsole::Out(L"Wrote picture " + std::to_wstring(wanted) + L" (" + std::wstring(label.begin(), label.end()) +
                      L") to " + output.FinalPath() + L"\n");
    }
}
