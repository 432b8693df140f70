#include "FramePositions.h"

#include "AppError.h"
#include "HResultText.h"

#include <uuids.h>

namespace {

// Media time again whatever happened in between.
class CInPictures {
public:
    explicit CInPictures(IMediaSeeking* seeking) : Seeking(seeking) {
        Result = Seeking ? Seeking->SetTimeFormat(&TIME_FORMAT_FRAME) : E_NOINTERFACE;
    }
    ~CInPictures() {
        if (SUCCEEDED(Result)) Seeking->SetTimeFormat(&TIME_FORMAT_MEDIA_TIME);
    }
    CInPictures(const CInPictures&) = delete;
    CInPictures& operator=(const CInPictures&) = delete;

    HRESULT Result;

private:
    IMediaSeeking* Seeking;
};

}  // namespace

CFramePositions::CFramePositions(IPin* videoPin) {
    if (videoPin) videoPin->QueryInterface(IID_PPV_ARGS(&Seeking));
}

long long CFramePositions::Total() {
    const CInPictures frames(Seeking.Get());
    LONGLONG total = 0;
    if (FAILED(frames.Result) || FAILED(Seeking->GetDuration(&total))) return 0;
    return total;
}

void CFramePositions::SeekTo(long long n) {
    const CInPictures frames(Seeking.Get());
    if (FAILED(frames.Result)) {
        throw CAppError(ExitCode::GraphFailure,
                        L"the video pin does not seek by picture: " + DescribeHResult(frames.Result));
    }
    LONGLONG first = n;
    const HRESULT hr = Seeking->SetPositions(&first, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning);
    if (FAILED(hr)) {
        throw CAppError(ExitCode::GraphFailure,
                        L"seeking to picture " + std::to_wstring(n) + L": " + DescribeHResult(hr));
    }
}
