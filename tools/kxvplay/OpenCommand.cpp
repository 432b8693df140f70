// kxvplay open: the graph a player builds from the path alone, so a user can
// see whether a registration finds the filter the way their player will.
#include "AppError.h"
#include "Commands.h"
#include "Console.h"
#include "HResultText.h"
#include "JsonObject.h"
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

}  // namespace

void RunOpen(const CommandOptions& options) {
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
