#include "RangeSettings.h"

#include "AppError.h"

#include <cmath>
#include <cwchar>
#include <limits>

CRangeSettings::CRangeSettings(const CommandOptions& options, const SourceFacts& facts) : Rate(options.Rate) {
    // A picture number means where the source stamps that picture's start.
    auto pictureStart = [&](long long n) { return std::llround(static_cast<double>(n) * facts.PicturePeriod); };
    Start = options.HasStartFrame ? pictureStart(options.StartFrame)
                                  : static_cast<REFERENCE_TIME>(options.StartSeconds * 1e7 + 0.5);
    Stop = facts.Duration;
    if (options.HasStop || options.HasStopFrame) {
        const REFERENCE_TIME wanted = options.HasStopFrame ? pictureStart(options.StopFrame)
                                                           : static_cast<REFERENCE_TIME>(options.StopSeconds * 1e7 + 0.5);
        if (wanted < facts.Duration) {
            Stop = wanted;
            HasStop = true;
        }
    }
    if (options.HasStartFrame && options.StartFrame >= facts.FrameTotal) {
        throw CAppError(ExitCode::Usage, L"--start-frame " + std::to_wstring(options.StartFrame) +
                                             L" is past the last picture (" + std::to_wstring(facts.FrameTotal) +
                                             L" pictures, numbered from 0)");
    }
    if (options.HasStart && Start >= facts.Duration) {
        wchar_t text[128];
        swprintf(text, 128, L"--start %.3f is not before the end of the recording (%.3f s)", options.StartSeconds,
                 static_cast<double>(facts.Duration) / 1e7);
        throw CAppError(ExitCode::Usage, text);
    }
    Moved = options.HasStart || options.HasStartFrame || HasStop;
}

void CRangeSettings::Apply(CSourceGraph* graph) const {
    if (Moved) graph->SetRange(Start, Stop);
    if (Rate != 1.0) graph->SetRate(Rate);
}

REFERENCE_TIME CRangeSettings::StampLimit() const {
    if (!HasStop) return std::numeric_limits<REFERENCE_TIME>::max();
    return static_cast<REFERENCE_TIME>(static_cast<double>(Stop - Start) / Rate);
}

RunSettings CRangeSettings::ForRun(const std::wstring& verb) const {
    RunSettings settings;
    settings.Verb = verb;
    settings.RangeStart = Start;
    settings.RangeEnd = Stop;
    settings.Rate = Rate;
    settings.HasStop = HasStop;
    return settings;
}
