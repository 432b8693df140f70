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

// A 32-bit top-down bitmap as BGR rows.
BgrImage BitmapPixels(HBITMAP bitmap) {
    DIBSECTION section = {};
    BgrImage image;
    if (GetObjectW(bitmap, sizeof(section), &section) != sizeof(section) || !section.dsBm.bmBits ||
        section.dsBmih.biBitCount != 32) {
        return image;
    }
    const int height = section.dsBmih.biHeight < 0 ? -section.dsBmih.biHeight : section.dsBmih.biHeight;
    image = BgrImage(section.dsBmih.biWidth, height, 0);
    for (int y = 0; y < height; ++y) {
        const int row = section.dsBmih.biHeight < 0 ? y : height - 1 - y;
        const uint8_t* source = static_cast<const uint8_t*>(section.dsBm.bmBits) + static_cast<size_t>(row) * image.Width * 4;
        for (int x = 0; x < image.Width; ++x) std::memcpy(image.At(x, y), source + static_cast<size_t>(x) * 4, 3);
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
