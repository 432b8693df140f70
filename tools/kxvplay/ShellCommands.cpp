// kxvplay thumb and props: the registered Explorer handlers, used as the
// shell uses them (ShellHandler.h).
#include "AppError.h"
#include "Commands.h"
#include "Console.h"
#include "HResultText.h"
#include "JsonObject.h"
#include "OutputFile.h"
#include "PngWriter.h"
#include "ShellHandler.h"

#include <thumbcache.h>
#include <wrl/client.h>

#include <cstdio>
#include <cstring>
#include <vector>

using Microsoft::WRL::ComPtr;

namespace {

// Format ids of the properties as Windows defines them.
const GUID MediaKeys = {0x64440490, 0x4c8b, 0x11d1, {0x8b, 0x70, 0x08, 0x00, 0x36, 0xb1, 0x1a, 0x03}};
const GUID VideoKeys = {0x64440491, 0x4c8b, 0x11d1, {0x8b, 0x70, 0x08, 0x00, 0x36, 0xb1, 0x1a, 0x03}};

// A whole-number property; -1 when the store has it empty.
int64_t Number(IPropertyStore* store, const GUID& format, DWORD id) {
    PROPVARIANT value;
    PropVariantInit(&value);
    int64_t number = -1;
    if (SUCCEEDED(store->GetValue({format, id}, &value))) {
        if (value.vt == VT_UI4) number = value.ulVal;
        if (value.vt == VT_UI8) number = static_cast<int64_t>(value.uhVal.QuadPart);
    }
    PropVariantClear(&value);
    return number;
}

// A thumbnail's pixels as BGR rows, top row first; empty when the bitmap
// cannot be read.
BgrImage BitmapPixels(HBITMAP bitmap) {
    BITMAP shape = {};
    BgrImage image;
    if (GetObjectW(bitmap, sizeof(shape), &shape) != sizeof(shape) || shape.bmWidth <= 0 || shape.bmHeight <= 0) {
        return image;
    }
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = shape.bmWidth;
    info.bmiHeader.biHeight = -shape.bmHeight;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    std::vector<uint8_t> bits(static_cast<size_t>(shape.bmWidth) * shape.bmHeight * 4);
    HDC screen = GetDC(nullptr);
    const int rows = GetDIBits(screen, bitmap, 0, static_cast<UINT>(shape.bmHeight), bits.data(), &info, DIB_RGB_COLORS);
    ReleaseDC(nullptr, screen);
    if (rows != shape.bmHeight) return image;
    image = BgrImage(shape.bmWidth, shape.bmHeight, 0);
    for (size_t pixel = 0; pixel < static_cast<size_t>(shape.bmWidth) * shape.bmHeight; ++pixel) {
        std::memcpy(&image.Pixels[pixel * 3], &bits[pixel * 4], 3);
    }
    return image;
}

}  // namespace

void RunThumb(const CommandOptions& options) {
    COutputFile output(options.Arguments[1]);
    const CPngWriter png;
    const CShellHandler shell(CShellHandler::Kind::Thumbnail, options.Arguments[0]);
    ComPtr<IThumbnailProvider> provider;
    HRESULT hr = shell.Handler()->QueryInterface(IID_PPV_ARGS(&provider));
    if (FAILED(hr)) shell.ShellFailure(L"asking for IThumbnailProvider of", hr);
    HBITMAP bitmap = nullptr;
    WTS_ALPHATYPE alpha = WTSAT_UNKNOWN;
    hr = provider->GetThumbnail(options.Size, &bitmap, &alpha);
    if (FAILED(hr) || !bitmap) shell.ShellFailure(L"making the thumbnail of", FAILED(hr) ? hr : E_POINTER);
    const BgrImage image = BitmapPixels(bitmap);
    DeleteObject(bitmap);
    if (image.Width == 0) shell.ShellFailure(L"making the thumbnail of", E_UNEXPECTED);
    hr = png.Write(output.TemporaryPath(), image);
    if (FAILED(hr)) {
        throw CAppError(ExitCode::OutputFailure, L"cannot write " + output.FinalPath() + L": " + DescribeHResult(hr));
    }
    output.Commit();
    if (options.Json) {
        CConsole::OutUtf8(CJsonObject()
                              .Add("file", shell.FullPath())
                              .Add("output", output.FinalPath())
                              .Add("handler", shell.ClassText())
                              .Add("width", static_cast<int64_t>(image.Width))
                              .Add("height", static_cast<int64_t>(image.Height))
                              .Add("alpha", alpha == WTSAT_RGB ? std::wstring(L"rgb") : std::wstring(L"other"))
                              .Text() +
                          "\n");
    } else {
        CConsole::Out(L"Wrote the thumbnail (" + std::to_wstring(image.Width) + L"x" + std::to_wstring(image.Height) +
                      L", handler " + shell.ClassText() + L") to " + output.FinalPath() + L"\n");
    }
}

void RunProps(const CommandOptions& options) {
    const CShellHandler shell(CShellHandler::Kind::Properties, options.Arguments[0]);
    ComPtr<IPropertyStore> store;
    const HRESULT hr = shell.Handler()->QueryInterface(IID_PPV_ARGS(&store));
    if (FAILED(hr)) shell.ShellFailure(L"asking for IPropertyStore of", hr);
    const int64_t duration = Number(store.Get(), MediaKeys, 3);
    const int64_t width = Number(store.Get(), VideoKeys, 3);
    const int64_t height = Number(store.Get(), VideoKeys, 4);
    const int64_t rate = Number(store.Get(), VideoKeys, 6);
    const int64_t fourcc = Number(store.Get(), VideoKeys, 44);
    const int64_t sampleRate = Number(store.Get(), MediaKeys, 5);
    const int64_t channels = Number(store.Get(), MediaKeys, 7);
    std::wstring code;
    for (int shift = 0; shift < 32 && fourcc >= 0; shift += 8) code += static_cast<wchar_t>((fourcc >> shift) & 0xFF);
    if (options.Json) {
        CJsonObject json;
        json.Add("file", shell.FullPath())
            .Add("handler", shell.ClassText())
            .Add("duration_100ns", duration)
            .Add("frame_width", width)
            .Add("frame_height", height)
            .Add("frame_rate_per_1000s", rate)
            .Add("fourcc", code)
            .Add("sound", sampleRate > 0);
        if (sampleRate > 0) json.Add("sample_rate", sampleRate).Add("channel_count", channels);
        CConsole::OutUtf8(json.Text() + "\n");
        return;
    }
    wchar_t line[256];
    std::swprintf(line, 256, L"Duration:    %.3f s\nFrame size:  %lld x %lld\nFrame rate:  %.3f per second\nFourCC:      %ls\n",
                  static_cast<double>(duration) / 1e7, static_cast<long long>(width), static_cast<long long>(height),
                  static_cast<double>(rate) / 1000.0, code.c_str());
    std::wstring text = L"Properties of " + shell.FullPath() + L" (handler " + shell.ClassText() + L"):\n" + line;
    if (sampleRate > 0) {
        std::swprintf(line, 256, L"Sound:       %lld Hz, %lld channel(s)\n", static_cast<long long>(sampleRate),
                      static_cast<long long>(channels));
        text += line;
    } else {
        text += L"Sound:       none\n";
    }
    CConsole::Out(text);
}
