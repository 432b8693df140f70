#include "WindowCapture.h"

#include <algorithm>

namespace {

// A top-down DIB of width x height with the given bits per pixel.
BITMAPINFO TopDownInfo(int width, int height, WORD bitCount) {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = bitCount;
    info.bmiHeader.biCompression = BI_RGB;
    return info;
}

}  // namespace

bool CWindowCapture::Take(HWND window) {
    RECT client = {};
    if (!window || !GetClientRect(window, &client) || client.right <= 0 || client.bottom <= 0) return false;
    POINT origin = {0, 0};
    ClientToScreen(window, &origin);
    const int width = client.right;
    const int height = client.bottom;

    HDC screen = GetDC(nullptr);
    if (!screen) return false;
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info = TopDownInfo(width, height, 24);
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool taken = false;
    if (memory && bitmap) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        taken = BitBlt(memory, 0, 0, width, height, screen, origin.x, origin.y, SRCCOPY) != FALSE;
        GdiFlush();
        SelectObject(memory, old);
    }
    if (taken) {
        const size_t stride = (static_cast<size_t>(width) * 3 + 3) & ~static_cast<size_t>(3);
        Rows.resize(static_cast<size_t>(width) * height * 3);
        for (int y = 0; y < height; ++y) {
            memcpy(&Rows[static_cast<size_t>(y) * width * 3], static_cast<const uint8_t*>(bits) + y * stride,
                   static_cast<size_t>(width) * 3);
        }
        CapturedWidth = width;
        CapturedHeight = height;
    }
    if (bitmap) DeleteObject(bitmap);
    if (memory) DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return taken;
}

bool CWindowCapture::TakeBitmap(HBITMAP bitmap) {
    // Wine's GetObject reports a top-down section's height as positive, so
    // the rows are read through GetDIBits in the order asked for.
    DIBSECTION section = {};
    if (!bitmap || GetObjectW(bitmap, sizeof(section), &section) != sizeof(section) || !section.dsBm.bmBits ||
        section.dsBmih.biBitCount != 32) {
        return false;
    }
    const int width = section.dsBm.bmWidth;
    const int height = section.dsBm.bmHeight;
    BITMAPINFO info = TopDownInfo(width, height, 32);
    std::vector<uint8_t> bits(static_cast<size_t>(width) * height * 4);
    HDC screen = GetDC(nullptr);
    const int rows = GetDIBits(screen, bitmap, 0, static_cast<UINT>(height), bits.data(), &info, DIB_RGB_COLORS);
    ReleaseDC(nullptr, screen);
    if (rows != height) return false;
    Rows.resize(static_cast<size_t>(width) * height * 3);
    for (size_t pixel = 0; pixel < static_cast<size_t>(width) * height; ++pixel) {
        memcpy(&Rows[pixel * 3], &bits[pixel * 4], 3);
    }
    CapturedWidth = width;
    CapturedHeight = height;
    return true;
}

int CWindowCapture::DistanceTo(const ExpectedPicture& expected) const {
    if (CapturedWidth == 0) return 255;
    int worst = 0;
    for (uint32_t y = 4; y + 4 < expected.Height; y += 6) {
        for (uint32_t x = 4; x + 4 < expected.Width; x += 6) {
            int centre[3];
            expected.Bgr(x, y, centre);
            bool flat = true;
            for (int dy = -3; dy <= 3 && flat; dy += 3) {
                for (int dx = -3; dx <= 3 && flat; dx += 3) {
                    int around[3];
                    expected.Bgr(x + dx, y + dy, around);
                    flat = around[0] == centre[0] && around[1] == centre[1] && around[2] == centre[2];
                }
            }
            if (!flat) continue;
            const int cx = static_cast<int>(x * static_cast<uint32_t>(CapturedWidth) / expected.Width);
            const int cy = static_cast<int>(y * static_cast<uint32_t>(CapturedHeight) / expected.Height);
            worst = std::max(worst, ChannelDistance(Pixel(cx, cy), centre));
        }
    }
    return worst;
}

int CWindowCapture::ShownFrame(const std::wstring& caption, uint32_t first, uint32_t last, uint32_t width,
                               uint32_t height, int* distance) {
    *distance = 255;
    DWORD begin = GetTickCount();
    DWORD limit = AppearTimeoutMs;
    do {
        if (!Take(FindWindowW(nullptr, caption.c_str()))) continue;
        if (limit == AppearTimeoutMs) {
            begin = GetTickCount();
            limit = ShowTimeoutMs;
        }
        for (uint32_t frame = first; frame <= last; ++frame) {
            const int found = DistanceTo(ExpectedPicture(frame, frame * 40, width, height));
            *distance = std::min(*distance, found);
            if (found <= PictureTolerance) return static_cast<int>(frame);
        }
    } while (GetTickCount() - begin < limit &&
             MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT) != WAIT_FAILED);
    return -1;
}
