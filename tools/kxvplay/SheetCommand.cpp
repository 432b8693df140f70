#include "AppError.h"
#include "Commands.h"
#include "Console.h"
#include "ContactSheet.h"
#include "GraphRun.h"
#include "HResultText.h"
#include "JsonObject.h"
#include "OutputFile.h"
#include "PictureCapture.h"
#include "PngWriter.h"
#include "RangeSettings.h"
#include "SourceGraph.h"
#include "StreamTally.h"
#include "picture/Yuy2Converter.h"

#include <uuids.h>

#include <algorithm>

void RunSheet(const CommandOptions& options) {
    COutputFile output(options.Arguments[1]);
    const CPngWriter png;
    CSourceGraph graph;
    graph.Open(options.Arguments[0]);
    const SourceFacts facts = graph.Facts();
    const CRangeSettings range(options, facts);
    CPictureCapture capture(facts);
    const std::vector<uint64_t> chosen = CContactSheet::ChooseIndices(static_cast<uint64_t>(facts.FrameTotal));
    const SheetLayout layout = SheetLayout::For(static_cast<int>(chosen.size()), capture.Width, capture.Height);
    CContactSheet sheet;
    const ComPtr<CStreamTally> video =
        CStreamTally::Create(CStreamTally::Kind::Video, range.StampLimit());
    const ComPtr<CStreamTally> audio =
        CStreamTally::Create(CStreamTally::Kind::Audio, range.StampLimit());
    video->SetSampleHandler([&](uint64_t index, REFERENCE_TIME start, const BYTE* data, long bytes) {
        if (!std::binary_search(chosen.begin(), chosen.end(), index)) return;
        BgrImage picture;
        if (!capture.Convert(data, bytes, &picture)) {
            capture.NoteFailure(L"picture " + std::to_wstring(index) + L" arrived cut short");
            return;
        }
        sheet.Add(CContactSheet::Thumbnail(picture, layout.ThumbHeight), start);
    });
    graph.GrabIntoNull(0, video.Get());
    graph.GrabIntoNull(1, audio.Get());
    graph.Unclocked();
    CGraphRun run(&graph, video.Get(), audio.Get(), range.ForRun(L"collecting pictures"));
    run.Run();
    capture.ThrowIfFailed();
    if (sheet.Count() == 0) {
        throw CAppError(ExitCode::GraphFailure,
                        L"graph failure: no picture arrived for the sheet: " +
                            DescribeHResult(VFW_E_SAMPLE_REJECTED_EOS));
    }
    const BgrImage image = sheet.Compose(capture.Width, capture.Height);
    const HRESULT hr = png.Write(output.TemporaryPath(), image);
    if (FAILED(hr)) {
        throw CAppError(ExitCode::OutputFailure, L"cannot write " + output.FinalPath() + L": " + DescribeHResult(hr));
    }
    output.Commit();
    if (options.Json) {
        CConsole::OutUtf8(CJsonObject()
                              .Add("file", graph.FullPath())
                              .Add("output", output.FinalPath())
                              .Add("thumbnails", static_cast<int64_t>(sheet.Count()))
                              .Add("columns", static_cast<int64_t>(layout.Columns))
                              .Text() +
                          "\n");
    } else {
        CConsole::Out(L"Wrote " + output.FinalPath() + L": " + std::to_wstring(sheet.Count()) +
                      L" pictures in a grid of " + std::to_wstring(layout.Columns) + L" columns\n");
    }
}
