#include "GraphRun.h"

#include "AppError.h"
#include "Console.h"
#include "ContactSheet.h"
#include "HResultText.h"

#include <cwchar>

namespace {

// How long the run may go without a single new sample before it counts as
// stalled, and how long sound may stay quiet once the pictures passed the
// stop (a recording without sound ends its sound stream early).
constexpr DWORD StallMs = 30000;
constexpr DWORD SoundQuietMs = 1000;
constexpr DWORD EventWaitMs = 100;

std::wstring Wide(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

}  // namespace

CGraphRun::CGraphRun(CSourceGraph* graph, CStreamTally* video, CStreamTally* audio, RunSettings settings)
    : Graph(graph), Video(video), Audio(audio), Settings(std::move(settings)), Terminal(CConsole::ErrIsTerminal()) {}

TallyCounts CGraphRun::CountsOf(const CStreamTally* tally) {
    if (tally) return tally->Counts();
    TallyCounts ended;
    ended.ReachedLimit = true;
    return ended;
}

std::wstring CGraphRun::ProgressText() const {
    const TallyCounts video = CountsOf(Video);
    const TallyCounts audio = CountsOf(Audio);
    // The pictures tell how far the run is; without them, the sound.
    const REFERENCE_TIME reached = Video ? video.LastEnd : audio.LastEnd;
    const REFERENCE_TIME position =
        Settings.RangeStart + static_cast<REFERENCE_TIME>(static_cast<double>(reached) * Settings.Rate);
    const double wall = (GetTickCount() - Began) / 1000.0;
    const double media = static_cast<double>(position - Settings.RangeStart) / 1e7;
    wchar_t text[256];
    swprintf(text, 256, L"%ls %ls / %ls  pictures %llu  sound %.2f s  speed %.1fx", Settings.Verb.c_str(),
             Wide(CContactSheet::TimeLabel(position)).c_str(),
             Wide(CContactSheet::TimeLabel(Settings.RangeEnd)).c_str(),
             static_cast<unsigned long long>(video.Samples), static_cast<double>(audio.Bytes) / CStreamTally::SoundBytesPerSecond,
             wall > 0 ? media / wall : 0.0);
    return text;
}

void CGraphRun::ShowProgress(bool last) {
    if (!Settings.Progress) return;
    const DWORD now = GetTickCount();
    const DWORD interval = Terminal ? 250 : 1000;
    if (!last && now - LastShown < interval) return;
    if (last && !ShownAny && !Terminal) return;
    LastShown = now;
    ShownAny = true;
    if (Terminal) {
        CConsole::Err(L"\r" + ProgressText() + L"   " + (last ? L"\n" : L""));
    } else {
        CConsole::Err(ProgressText() + L"\n");
    }
}

RunOutcome CGraphRun::Run() {
    RunOutcome outcome;
    Began = GetTickCount();
    LastShown = Began;
    Graph->Run();
    uint64_t seen = 0;
    DWORD lastActivity = Began;
    uint64_t soundSeen = 0;
    DWORD soundActivity = Began;
    for (;;) {
        long code = 0;
        LONG_PTR first = 0;
        if (Graph->NextEvent(EventWaitMs, &code, &first)) {
            if (code == EC_COMPLETE) {
                outcome.Completed = true;
                break;
            }
            if (code == EC_ERRORABORT || code == EC_USERABORT || code == EC_STREAM_ERROR_STOPPED ||
                code == EC_ERRORABORTEX) {
                Graph->Stop();
                throw CAppError(ExitCode::GraphFailure,
                                L"graph failure: the graph stopped with an error while " + Settings.Verb + L": " +
                                    DescribeHResult(static_cast<HRESULT>(first)));
            }
        }
        if (Settings.Abandon && Settings.Abandon()) {
            outcome.Abandoned = true;
            break;
        }
        const DWORD now = GetTickCount();
        const TallyCounts video = CountsOf(Video);
        const TallyCounts audio = CountsOf(Audio);
        if (audio.Samples != soundSeen || audio.ReachedLimit) {
            soundSeen = audio.Samples;
            soundActivity = now;
        }
        if (video.Samples + audio.Samples != seen) {
            seen = video.Samples + audio.Samples;
            lastActivity = now;
        }
        if (Settings.HasStop && video.ReachedLimit && (audio.ReachedLimit || now - soundActivity >= SoundQuietMs)) {
            outcome.ReachedStop = true;
            break;
        }
        if (now - lastActivity >= StallMs) {
            Graph->Stop();
            throw CAppError(ExitCode::GraphFailure, L"graph failure: no sample arrived for 30 s while " +
                                                        Settings.Verb + L": " + DescribeHResult(VFW_E_TIMEOUT));
        }
        ShowProgress(false);
    }
    outcome.StopResult = Graph->Stop();
    outcome.WallSeconds = (GetTickCount() - Began) / 1000.0;
    ShowProgress(true);
    return outcome;
}
