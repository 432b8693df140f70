#include "PlaySummary.h"

#include <cwchar>

CPlaySummary::CPlaySummary(const TallyCounts& video, const TallyCounts& audio, const RunOutcome& outcome)
    : Video(video), Audio(audio), Outcome(outcome) {}

void CPlaySummary::AddTo(CJsonObject* json) const {
    json->Add("pictures", static_cast<int64_t>(Video.Samples))
        .Add("picture_gaps", static_cast<int64_t>(Video.Gaps))
        .Add("picture_repeats", static_cast<int64_t>(Video.Repeats))
        .Add("sound_seconds", static_cast<double>(Audio.Bytes) / CStreamTally::SoundBytesPerSecond)
        .Add("sound_bytes", static_cast<int64_t>(Audio.Bytes))
        .Add("sound_samples", static_cast<int64_t>(Audio.Samples))
        .Add("sound_gaps", static_cast<int64_t>(Audio.Gaps))
        .Add("sound_repeats", static_cast<int64_t>(Audio.Repeats))
        .Add("wall_seconds", Outcome.WallSeconds)
        .Add("pictures_per_second",
             Outcome.WallSeconds > 0 ? static_cast<double>(Video.Samples) / Outcome.WallSeconds : 0.0)
        .Add("completed", Outcome.Completed)
        .Add("reached_stop", Outcome.ReachedStop);
}

std::wstring CPlaySummary::Text() const {
    wchar_t text[512];
    swprintf(text, 512,
             L"Pictures:   %llu (gaps %llu, repeats %llu)\n"
             L"Sound:      %.3f s, %llu bytes in %llu samples (gaps %llu, repeats %llu)\n"
             L"Wall time:  %.3f s\n"
             L"Pictures/s: %.1f\n"
             L"End:        %ls\n",
             static_cast<unsigned long long>(Video.Samples), static_cast<unsigned long long>(Video.Gaps),
             static_cast<unsigned long long>(Video.Repeats), static_cast<double>(Audio.Bytes) / CStreamTally::SoundBytesPerSecond,
             static_cast<unsigned long long>(Audio.Bytes), static_cast<unsigned long long>(Audio.Samples),
             static_cast<unsigned long long>(Audio.Gaps), static_cast<unsigned long long>(Audio.Repeats),
             Outcome.WallSeconds,
             Outcome.WallSeconds > 0 ? static_cast<double>(Video.Samples) / Outcome.WallSeconds : 0.0,
             Outcome.ReachedStop ? L"stop position reached" : L"end of the recording");
    return text;
}
