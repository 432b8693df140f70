#include "StreamExport.h"

#include "AppError.h"
#include "ConnectionType.h"
#include "HResultText.h"
#include "formats/rawstream/WavFormat.h"
#include "formats/rawstream/Y4mFormat.h"

#include <cstdlib>
#include <string>
#include <vector>

struct CStreamExport::Sink {
    std::shared_ptr<CStreamOutput> Output;
    std::string Header;            // written before the first sample
    bool Started = false;
    uint64_t DataBytes = 0;        // after the header
    // Pictures: their size and row stride, and the frame being unpacked.
    uint32_t Width = 0;
    uint32_t Height = 0;
    size_t Stride = 0;
    std::vector<uint8_t> Frame;
    // Sound: its shape, for the header's final sizes.
    PcmShape Shape;
    std::wstring Problem;          // the first picture that came short

    void Start() {
        if (Started) return;
        Started = true;
        Output->Write(Header.data(), Header.size());
    }
};

CStreamExport::CStreamExport(Format format, std::shared_ptr<CStreamOutput> output)
    : Kind(format), Shared(std::make_shared<Sink>()) {
    Shared->Output = std::move(output);
}

void CStreamExport::Build(CSourceGraph* graph, CStreamTally* tally) {
    if (Kind == Format::Y4m) {
        BuildPictures(graph, tally);
    } else {
        BuildSound(graph, tally);
    }
}

void CStreamExport::BuildPictures(CSourceGraph* graph, CStreamTally* tally) {
    graph->RenderNull(graph->Grab(0, tally).Get(), L"Video renderer");
    const CConnectionType type(graph->SourcePin(0).Get());
    const VIDEOINFOHEADER* video = type.Yuy2Video();
    if (!video || video->bmiHeader.biWidth <= 0 || video->bmiHeader.biWidth % 2 != 0 ||
        video->AvgTimePerFrame <= 0) {
        throw CAppError(ExitCode::GraphFailure,
                        L"graph failure: the pictures are not YUY2 with a video header and a frame rate: " +
                            DescribeHResult(FAILED(type.Result) ? type.Result : VFW_E_INVALIDMEDIATYPE));
    }
    Sink& sink = *Shared;
    sink.Width = static_cast<uint32_t>(video->bmiHeader.biWidth);
    sink.Height = static_cast<uint32_t>(std::abs(video->bmiHeader.biHeight));
    sink.Stride = (static_cast<size_t>(sink.Width) * 2 + 3) & ~static_cast<size_t>(3);
    sink.Frame.resize(CY4mFormat::FrameBytes(sink.Width, sink.Height));
    // The rate the pin announces, which need not be a whole number.
    sink.Header = CY4mFormat::StreamHeader(sink.Width, sink.Height, CY4mFormat::RateOf(video->AvgTimePerFrame));
    std::shared_ptr<Sink> shared = Shared;
    tally->SetSampleHandler([shared](uint64_t index, REFERENCE_TIME, const BYTE* data, long bytes) {
        Sink& s = *shared;
        if (static_cast<size_t>(bytes) < s.Stride * s.Height) {
            if (s.Problem.empty()) {
                s.Problem = L"picture " + std::to_wstring(index) + L" holds " + std::to_wstring(bytes) +
                            L" bytes, short of " + std::to_wstring(s.Stride * s.Height);
            }
            return;
        }
        s.Start();
        CY4mFormat::Frame(data, s.Stride, s.Width, s.Height, s.Frame.data());
        s.Output->Write(s.Frame.data(), s.Frame.size());
        s.DataBytes += s.Frame.size();
    });
}

void CStreamExport::BuildSound(CSourceGraph* graph, CStreamTally* tally) {
    graph->RenderNull(graph->Grab(1, tally).Get(), L"Audio renderer");
    const CConnectionType type(graph->SourcePin(1).Get());
    const PCMWAVEFORMAT* sound = type.PcmSound();
    if (!sound) {
        throw CAppError(ExitCode::GraphFailure, L"graph failure: the sound is not PCM with a wave format: " +
                                                    DescribeHResult(FAILED(type.Result) ? type.Result
                                                                                        : VFW_E_INVALIDMEDIATYPE));
    }
    Sink& sink = *Shared;
    sink.Shape.Channels = sound->wf.nChannels;
    sink.Shape.SamplesPerSecond = sound->wf.nSamplesPerSec;
    sink.Shape.BitsPerSample = sound->wBitsPerSample;
    const auto header = CWavFormat::Header(sink.Shape, CWavFormat::UnknownLength);
    sink.Header.assign(header.begin(), header.end());
    std::shared_ptr<Sink> shared = Shared;
    tally->SetSampleHandler([shared](uint64_t, REFERENCE_TIME, const BYTE* data, long bytes) {
        Sink& s = *shared;
        s.Start();
        s.Output->Write(data, static_cast<size_t>(bytes));
        s.DataBytes += static_cast<uint64_t>(bytes);
    });
}

bool CStreamExport::Failed() const {
    return Shared->Output->Failed();
}

void CStreamExport::Finish() {
    Sink& sink = *Shared;
    if (Kind == Format::Wav && sink.Started) {
        const auto header = CWavFormat::Header(sink.Shape, sink.DataBytes);
        sink.Output->Rewrite(0, header.data(), header.size());
    }
    sink.Output->Close();
    if (!sink.Problem.empty()) {
        throw CAppError(ExitCode::GraphFailure, L"graph failure: " + sink.Problem + L": " +
                                                    DescribeHResult(VFW_E_BUFFER_UNDERFLOW));
    }
}
