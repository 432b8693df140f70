// kxvplay open: the graph a player builds from the path alone, so a user can
// see whether a registration finds the filter the way their player will.
#include "AppError.h"
#include "Commands.h"
#include "Console.h"
#include "HResultText.h"
#include "JsonObject.h"
#include "MfPlayer.h"
#include "SourceGraph.h"

#include <cwchar>

namespace {

// Beyond the recording's own length, how long the end may take to arrive.
constexpr DWORD EndMarginMs = 30000;

std::string JsonList(const std::vector<std::wstring>& items) {
    std::string text = "[";
    for (size_t i = 0; i < items.size(); ++i) text += (i ? "," : "") + CJsonObject::Quote(items[i]);
    return text + "]";
}

void AddTally(CJsonObject* json, const std::string& prefix, const CMfPlayer::StreamTally& tally) {
    json->Add(prefix + "_samples", static_cast<int64_t>(tally.Samples));
    json->Add(prefix + "_bytes", static_cast<int64_t>(tally.Bytes));
    json->Add(prefix + "_first_time", tally.FirstTime / 1e7);
    json->Add(prefix + "_end_time", tally.EndTime / 1e7);
    json->Add(prefix + "_gaps", static_cast<int64_t>(tally.Gaps));
    json->Add(prefix + "_overlaps", static_cast<int64_t>(tally.Overlaps));
}

std::wstring TallyLine(const wchar_t* name, const CMfPlayer::StreamTally& tally) {
    wchar_t line[256];
    swprintf(line, 256, L"\n  %ls: %llu samples, %llu bytes, %.3f s to %.3f s, %llu gaps, %llu overlaps", name,
             static_cast<unsigned long long>(tally.Samples), static_cast<unsigned long long>(tally.Bytes),
             tally.FirstTime / 1e7, tally.EndTime / 1e7, static_cast<unsigned long long>(tally.Gaps),
             static_cast<unsigned long long>(tally.Overlaps));
    return line;
}

// The Media Foundation path: the source reader, or the media session on the
// clock.
void RunOpenMf(const CommandOptions& options) {
    CMfPlayer player;
    const std::wstring& file = options.Arguments[0];
    if (options.Realtime) {
        const std::wstring caption = L"kxvplay - " + file.substr(file.find_last_of(L"\\/") + 1);
        const CMfPlayer::SessionSummary played = player.Play(file, caption);
        if (options.Json) {
            CJsonObject json;
            json.Add("file", player.FullPath());
            json.Add("session_ended", played.Ended);
            json.Add("sound", played.Sound);
            json.Add("wall_seconds", played.WallSeconds);
            CConsole::OutUtf8(json.Text() + "\n");
            return;
        }
        wchar_t line[160];
        swprintf(line, 160, L"the media session played %ls to its end in %.2f s%ls\n", player.FullPath().c_str(),
                 played.WallSeconds, played.Sound ? L"" : L" (no audio renderer: pictures only)");
        CConsole::Out(line);
        return;
    }
    const CMfPlayer::ReadSummary read = player.ReadAll(file);
    const double pace = read.WallSeconds > 0 ? read.Pictures.Samples / read.WallSeconds : 0;
    if (options.Json) {
        CJsonObject json;
        json.Add("file", player.FullPath());
        json.Add("duration", read.Duration / 1e7);
        AddTally(&json, "picture", read.Pictures);
        if (read.Sound.Present) AddTally(&json, "sound", read.Sound);
        json.Add("wall_seconds", read.WallSeconds);
        json.Add("pictures_per_second", pace);
        CConsole::OutUtf8(json.Text() + "\n");
        return;
    }
    wchar_t head[160];
    swprintf(head, 160, L"read %ls through the Media Foundation source reader (%.3f s long):",
             player.FullPath().c_str(), read.Duration / 1e7);
    std::wstring text = head + TallyLine(L"pictures", read.Pictures);
    if (read.Sound.Present) text += TallyLine(L"sound", read.Sound);
    wchar_t tail[96];
    swprintf(tail, 96, L"\nin %.2f s, %.1f pictures a second\n", read.WallSeconds, pace);
    CConsole::Out(text + tail);
}

}  // namespace

void RunOpen(const CommandOptions& options) {
    if (options.Mf) {
        RunOpenMf(options);
        return;
    }
    CSourceGraph graph;
    const HRESULT rendered = graph.OpenByPath(options.Arguments[0]);
    if (rendered != S_OK) {
        CConsole::Err(L"kxvplay: not every stream could be rendered: " + DescribeHResult(rendered) + L"\n");
    }
    const std::wstring& path = graph.FullPath();
    graph.NameVideoWindow(L"kxvplay - " + path.substr(path.find_last_of(L"\\/") + 1));
    const std::vector<std::wstring> filters = graph.FilterNames();

    const DWORD began = GetTickCount();
    const DWORD limit = static_cast<DWORD>(graph.Facts().Duration / 10000) + EndMarginMs;
    graph.Run();
    bool completed = false;
    while (!completed) {
        const DWORD spent = GetTickCount() - began;
        long code = 0;
        LONG_PTR first = 0;
        if (spent >= limit || !graph.NextEvent(limit - spent, &code, &first)) break;
        if (code == EC_ERRORABORT || code == EC_USERABORT || code == EC_STREAM_ERROR_STOPPED ||
            code == EC_ERRORABORTEX) {
            graph.Stop();
            throw CAppError(ExitCode::GraphFailure, L"graph failure: the graph stopped with an error while playing: " +
                                                        DescribeHResult(static_cast<HRESULT>(first)));
        }
        completed = code == EC_COMPLETE;
    }
    graph.Stop();
    if (!completed) {
        throw CAppError(ExitCode::GraphFailure, L"graph failure: no end of playback within the recording's length "
                                                L"and 30 s: " + DescribeHResult(VFW_E_TIMEOUT));
    }
    const double wall = (GetTickCount() - began) / 1000.0;
    if (options.Json) {
        CJsonObject json;
        json.Add("file", path);
        json.AddRaw("filters", JsonList(filters));
        json.Add("all_rendered", rendered == S_OK);
        json.Add("completed", completed);
        json.Add("wall_seconds", wall);
        CConsole::OutUtf8(json.Text() + "\n");
        return;
    }
    std::wstring text = L"opened " + path + L" by its path; the graph:";
    for (const std::wstring& name : filters) text += L"\n  " + name;
    wchar_t tail[64];
    swprintf(tail, 64, L"\nplayed to the end in %.2f s\n", wall);
    CConsole::Out(text + tail);
}
