#include "bench/PngChart.h"
#include "formats/png/PngEncoding.h"

#include <windows.h>
#include <wincodec.h>
#include <wrl/client.h>

#include <algorithm>
#include <cmath>
#include <cwchar>

using Microsoft::WRL::ComPtr;

namespace {

COLORREF Gdi(unsigned rgb) { return RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF); }

// The bitmap, its device context and the objects selected into it, released
// in reverse order on every path.
class CCanvas {
public:
    CCanvas(int width, int height) : Width(width), Height(height) {
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(info.bmiHeader);
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        Dc = CreateCompatibleDC(nullptr);
        Bitmap = CreateDIBSection(Dc, &info, DIB_RGB_COLORS, &Bits, nullptr, 0);
        if (Dc && Bitmap) Previous = SelectObject(Dc, Bitmap);
        Font = CreateFontW(-13, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, ANTIALIASED_QUALITY, 0, L"Tahoma");
        if (Dc && Font) PreviousFont = SelectObject(Dc, Font);
    }
    ~CCanvas() {
        if (PreviousFont) SelectObject(Dc, PreviousFont);
        if (Font) DeleteObject(Font);
        if (Previous) SelectObject(Dc, Previous);
        if (Bitmap) DeleteObject(Bitmap);
        if (Dc) DeleteDC(Dc);
    }
    CCanvas(const CCanvas&) = delete;
    CCanvas& operator=(const CCanvas&) = delete;

    bool Ready() const { return Dc && Bitmap && Bits && Previous; }
    HDC Context() const { return Dc; }
    const void* Pixels() const { return Bits; }

    void Fill(int left, int top, int right, int bottom, unsigned rgb) const {
        HBRUSH brush = CreateSolidBrush(Gdi(rgb));
        RECT area{left, top, right, bottom};
        FillRect(Dc, &area, brush);
        DeleteObject(brush);
    }
    void Text(int x, int y, const std::wstring& text, unsigned rgb, UINT align = TA_LEFT) const {
        SetBkMode(Dc, TRANSPARENT);
        SetTextColor(Dc, Gdi(rgb));
        SetTextAlign(Dc, align | TA_TOP);
        TextOutW(Dc, x, y, text.c_str(), static_cast<int>(text.size()));
    }

private:
    int Width;
    int Height;
    HDC Dc = nullptr;
    HBITMAP Bitmap = nullptr;
    HGDIOBJ Previous = nullptr;
    HFONT Font = nullptr;
    HGDIOBJ PreviousFont = nullptr;
    void* Bits = nullptr;
};

bool EncodePng(const void* pixels, int width, int height, const std::wstring& path) {
    ComPtr<IWICImagingFactory> factory;
    HRESULT hr = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&factory));
    if (SUCCEEDED(hr)) {
        hr = EncodePngFile(factory.Get(), path, pixels, static_cast<UINT>(width), static_cast<UINT>(height),
                           static_cast<UINT>(width) * 4, GUID_WICPixelFormat32bppBGR);
    }
    return SUCCEEDED(hr);
}

std::wstring Number(double value) {
    wchar_t text[32];
    if (value >= 100) {
        swprintf(text, 32, L"%.0f", value);
    } else {
        swprintf(text, 32, L"%.3g", value);
    }
    return text;
}

}  // namespace

bool CPngChart::Write(const ChartData& data, const std::wstring& path) const {
    CCanvas canvas(Width, Height);
    if (!canvas.Ready() || data.Groups.empty() || data.Series.empty()) return false;
    double low = 1e300, high = 0;
    for (const ChartSeries& series : data.Series) {
        for (double v : series.Values) {
            if (v > 0) {
                low = std::min(low, v);
                high = std::max(high, v);
            }
        }
    }
    if (high <= 0) return false;
    const double bottomDecade = std::floor(std::log10(low));
    const double topDecade = std::max(bottomDecade + 1, std::ceil(std::log10(high)));

    const int left = 80, right = Width - 20, top = 50, bottom = Height - 70;
    auto yOf = [&](double v) {
        const double share = (std::log10(v) - bottomDecade) / (topDecade - bottomDecade);
        return bottom - static_cast<int>(share * (bottom - top));
    };
    canvas.Fill(0, 0, Width, Height, 0xFFFFFF);
    canvas.Text(Width / 2, 12, data.Title, 0x000000, TA_CENTER);
    for (double decade = bottomDecade; decade <= topDecade; decade += 1) {
        const double v = std::pow(10.0, decade);
        const int y = yOf(v);
        canvas.Fill(left, y, right, y + 1, 0xCCCCCC);
        canvas.Text(left - 6, y - 7, Number(v), 0x333333, TA_RIGHT);
    }
    canvas.Text(8, top - 24, data.Unit, 0x333333);
    canvas.Fill(left, top, left + 1, bottom, 0x000000);
    canvas.Fill(left, bottom, right, bottom + 1, 0x000000);

    const int groups = static_cast<int>(data.Groups.size());
    const int bars = static_cast<int>(data.Series.size());
    const int groupWidth = (right - left) / groups;
    const int barWidth = std::max(4, (groupWidth - 30) / bars);
    for (int g = 0; g < groups; ++g) {
        const int groupLeft = left + g * groupWidth + 15;
        for (int s = 0; s < bars; ++s) {
            const ChartSeries& series = data.Series[static_cast<size_t>(s)];
            if (static_cast<size_t>(g) >= series.Values.size()) continue;
            const double v = series.Values[static_cast<size_t>(g)];
            if (v <= 0) continue;
            const int x = groupLeft + s * barWidth;
            const int y = std::min(yOf(v), bottom - 1);
            canvas.Fill(x + 2, y, x + barWidth - 2, bottom, series.Colour);
            canvas.Text(x + barWidth / 2, y - 16, Number(v), 0x333333, TA_CENTER);
        }
        canvas.Text(left + g * groupWidth + groupWidth / 2, bottom + 6, data.Groups[static_cast<size_t>(g)], 0x000000,
                    TA_CENTER);
    }
    int legendX = left;
    for (const ChartSeries& series : data.Series) {
        canvas.Fill(legendX, Height - 32, legendX + 14, Height - 18, series.Colour);
        canvas.Text(legendX + 20, Height - 33, series.Name, 0x000000);
        legendX += 40 + static_cast<int>(series.Name.size()) * 7;
    }
    GdiFlush();
    return EncodePng(canvas.Pixels(), Width, Height, path);
}
