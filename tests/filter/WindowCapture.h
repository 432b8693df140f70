// A screenshot of a window's client area as the screen shows it (GDI from
// the screen, so pictures a renderer draws through GL are in it too), kept
// as 24-bit BGR rows, top row first. Used on the test's thread.
#pragma once

#include "tests/app/ExpectedColour.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

// Channel difference up to which a capture shows a test picture: the
// renderer's own YUY2 conversion differs a little from ours (21 measured
// with Wine's VMR-9 on Mesa); neighbouring pictures differ by 100 and more.
constexpr int PictureTolerance = 40;
// How long a window may take to appear (a player started as another
// process, which on a slow or emulating machine takes many seconds to build
// its graph), and then to show a picture.
constexpr DWORD AppearTimeoutMs = 60000;
constexpr DWORD ShowTimeoutMs = 10000;

class CWindowCapture {
public:
    // Whether the test runs on a desktop (scripts/test.sh provides one; Wine
    // hands the display on to the environment), where renderers can show.
    static bool DesktopPresent() { return GetEnvironmentVariableW(L"DISPLAY", nullptr, 0) > 0; }

    // Replaces the capture with the window's client area; false when the
    // window has none on the screen.
    bool Take(HWND window);
    // Replaces the capture with a 32-bit DIB section's pixels (a thumbnail);
    // false for any other bitmap.
    bool TakeBitmap(HBITMAP bitmap);

    int Width() const { return CapturedWidth; }
    int Height() const { return CapturedHeight; }
    // B, G, R of a pixel of the capture.
    const uint8_t* Pixel(int x, int y) const { return &Rows[(static_cast<size_t>(y) * CapturedWidth + x) * 3]; }

    // The largest channel difference from the expected picture over its flat
    // places (grid points whose neighbourhood has one colour there), so the
    // renderer's filtering at edges does not count; the capture may be
    // scaled. 255 without a capture.
    int DistanceTo(const ExpectedPicture& expected) const;
    // Captures the window of that caption (of any process; it may appear
    // late) until it shows one of the test pictures first..last of a
    // recording of width x height at 25 pictures a second: at most
    // AppearTimeoutMs for the window, then ShowTimeoutMs from its first
    // capture. The frame shown (-1: none); *distance the best match.
    int ShownFrame(const std::wstring& caption, uint32_t first, uint32_t last, uint32_t width, uint32_t height,
                   int* distance);

private:
    int CapturedWidth = 0;
    int CapturedHeight = 0;
    std::vector<uint8_t> Rows;
};
