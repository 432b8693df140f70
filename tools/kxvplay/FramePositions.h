// The source's pictures by number, through its video pin's IMediaSeeking in
// TIME_FORMAT_FRAME: the frame total and a seek to a picture. The pin is put
// back into media time after each use, so the rest of kxvplay keeps seeing
// media time. Main thread, graph stopped (the pin changes its time format
// only then).
#pragma once

#include <dshow.h>
#include <wrl/client.h>

class CFramePositions {
public:
    explicit CFramePositions(IPin* videoPin);

    // The library's frame total; 0 when the pin does not speak in pictures.
    long long Total();
    // Moves the source to picture n (the next run starts with it); throws
    // CAppError(GraphFailure) when the pin refuses.
    void SeekTo(long long n);

private:
    Microsoft::WRL::ComPtr<IMediaSeeking> Seeking;
};
