#include "AppError.h"
#include "Commands.h"
#include "Console.h"
#include "GraphRun.h"
#include "HResultText.h"
#include "JsonObject.h"
#include "PictureCapture.h"
#include "PngWriter.h"
#include "RangeSettings.h"
#include "SourceGraph.h"
#include "StreamTally.h"
#include "common/WidePath.h"

#include <uuids.h>


namespace {

std::wstring PreparedFolder(const std::wstring& folder) {
    const DWORD attributes = GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        if (!CreateDirectoryW(folder.c_str(), nullptr)) {
            throw CAppError(ExitCode::OutputFailure, L"cannot create the folder " + folder + L": " +
                                                         DescribeHResult(HRESULT_FROM_WIN32(GetLastError())));
        }
    } else if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        throw CAppError(ExitCode::OutputFailure, L"cannot write pictures into " + folder + L": it is a file");
    }
    std::wstring path;
    if (FAILED(CWidePath::Full(folder, &path))) path = folder;
    if (!path.empty() && path.back() != L'\\') path += L'\\';
    return path;
}

}  // namespace

void RunFrames(const CommandOptions& options) {
    const std::wstring folder = PreparedFolder(options.Arguments[1]);
    const CPngWriter png;
    CSourceGraph graph;
    graph.Open(options.Arguments[0]);
    const CRangeSettings range(options, graph.Facts());
    range.Apply(&graph);
    CPictureCapture capture(graph.Facts());
    uint64_t written = 0;
    const ComPtr<CStreamTally> video =
        CStreamTally::Create(CStreamTally::Kind::Video, range.StampLimit());
    const ComPtr<CStreamTally> audio =
        CStreamTally::Create(CStreamTally::Kind::Audio, range.StampLimit());
    video->SetSampleHandler([&](uint64_t index, REFERENCE_TIME start, const BYTE* data, long bytes) {
        if (index % options.Every != 0) return;
        BgrImage image;
        std::wstring number = std::to_wstring(capture.FrameNumber(range.Start, start));
        if (number.size() < 6) number.insert(0, 6 - number.size(), L'0');
        const std::wstring path = folder + L"frame_" + number + L".png";
        if (!capture.Convert(data, bytes, &image)) {
            capture.NoteFailure(L"picture for " + path + L" arrived cut short");
            return;
        }
        const HRESULT hr = png.Write(path, image);
        if (FAILED(hr)) {
            DeleteFileW(path.c_str());
            capture.NoteFailure(L"cannot write " + path + L": " + DescribeHResult(hr));
            return;
        }
        ++written;
    });
    graph.GrabIntoNull(0, video.Get());
    graph.GrabIntoNull(1, audio.Get());
    graph.Unclocked();
    CGraphRun run(&graph, video.Get(), audio.Get(), range.ForRun(L"writing pictures"));
    run.Run();
    capture.ThrowIfFailed();
    if (options.Json) {
        CConsole::OutUtf8(CJsonObject()
                              .Add("file", graph.FullPath())
                              .Add("folder", folder)
                              .Add("pictures", static_cast<int64_t>(video->Counts().Samples))
                              .Add("written", static_cast<int64_t>(written))
                              .Text() +
                          "\n");
    } else {
        CConsole::Out(L"Wrote " + std::to_wstring(written) + L" PNG files to " + folder + L"\n");
    }
}
