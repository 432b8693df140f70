#include "shell/RecordingThumbnailProvider.h"

#include "framework/ScopedLock.h"
#include "shell/BoundedWork.h"
#include "shell/ShellRecording.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>

namespace {

constexpr UINT LargestThumbnail = 4096;

// The picture scaled so that its longer side is size pixels: each target
// pixel the average of the source pixels under it (the nearest one when
// enlarging), written as BGRA rows, top row first, fully opaque.
void ScaleInto(const BgrImage& picture, int width, int height, uint8_t* bgra) {
    for (int y = 0; y < height; ++y) {
        const int top = static_cast<int>(static_cast<int64_t>(y) * picture.Height / height);
        const int bottom = std::max(top + 1, static_cast<int>(static_cast<int64_t>(y + 1) * picture.Height / height));
        for (int x = 0; x < width; ++x) {
            const int left = static_cast<int>(static_cast<int64_t>(x) * picture.Width / width);
            const int right = std::max(left + 1, static_cast<int>(static_cast<int64_t>(x + 1) * picture.Width / width));
            unsigned sum[3] = {};
            for (int sy = top; sy < bottom; ++sy) {
                for (int sx = left; sx < right; ++sx) {
                    const uint8_t* pixel = picture.At(sx, sy);
                    for (int c = 0; c < 3; ++c) sum[c] += pixel[c];
                }
            }
            const unsigned count = static_cast<unsigned>((bottom - top) * (right - left));
            uint8_t* target = bgra + (static_cast<size_t>(y) * width + x) * 4;
            for (int c = 0; c < 3; ++c) target[c] = static_cast<uint8_t>((sum[c] + count / 2) / count);
            target[3] = 255;
        }
    }
}

HRESULT MakeBitmap(const BgrImage& picture, UINT size, HBITMAP* bitmap) {
    const bool wide = picture.Width >= picture.Height;
    const int longer = static_cast<int>(size);
    const int along = wide ? picture.Width : picture.Height;
    const int across = wide ? picture.Height : picture.Width;
    const int shorter = std::max(1, static_cast<int>(std::lround(static_cast<double>(longer) * across / along)));
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = wide ? longer : shorter;
    info.bmiHeader.biHeight = -(wide ? shorter : longer);
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP made = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!made || !bits) return E_OUTOFMEMORY;
    ScaleInto(picture, info.bmiHeader.biWidth, -info.bmiHeader.biHeight, static_cast<uint8_t*>(bits));
    *bitmap = made;
    return S_OK;
}

}  // namespace

CUnknown* CreateRecordingThumbnailProvider(IUnknown* outer, HRESULT* result) {
    CRecordingThumbnailProvider* provider = new (std::nothrow) CRecordingThumbnailProvider(outer);
    if (!provider) *result = E_OUTOFMEMORY;
    return provider;
}

CRecordingThumbnailProvider::CRecordingThumbnailProvider(IUnknown* outer)
    : CUnknown("recording thumbnail provider", outer) {}

CRecordingThumbnailProvider::~CRecordingThumbnailProvider() = default;

HRESULT STDMETHODCALLTYPE CRecordingThumbnailProvider::InnerQueryInterface(REFIID id, void** out) {
    if (!out) return E_POINTER;
    if (IsEqualIID(id, __uuidof(IThumbnailProvider))) return HandOutInterface(static_cast<IThumbnailProvider*>(this), out);
    if (IsEqualIID(id, __uuidof(IInitializeWithFile))) return HandOutInterface(static_cast<IInitializeWithFile*>(this), out);
    return CUnknown::InnerQueryInterface(id, out);
}

HRESULT STDMETHODCALLTYPE CRecordingThumbnailProvider::Initialize(LPCWSTR path, DWORD mode) {
    if (!path || !*path) return E_INVALIDARG;
    if ((mode & (STGM_WRITE | STGM_READWRITE)) != 0) return STG_E_ACCESSDENIED;
    CScopedLock hold(&PathLock);
    if (!Path.empty()) return HRESULT_FROM_WIN32(ERROR_ALREADY_INITIALIZED);
    try {
        Path = path;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CRecordingThumbnailProvider::GetThumbnail(UINT size, HBITMAP* bitmap,
                                                                   WTS_ALPHATYPE* alpha) {
    if (!bitmap || !alpha) return E_POINTER;
    *bitmap = nullptr;
    *alpha = WTSAT_UNKNOWN;
    if (size == 0 || size > LargestThumbnail) return E_INVALIDARG;
    std::shared_ptr<BgrImage> picture;
    std::wstring path;
    try {
        picture = std::make_shared<BgrImage>();
        CScopedLock hold(&PathLock);
        path = Path;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    if (path.empty()) return E_UNEXPECTED;
    const HRESULT read = CBoundedWork::Run(
        [picture, path]() -> HRESULT {
            try {
                CShellRecording recording;
                const HRESULT opened = recording.Open(path.c_str());
                if (FAILED(opened)) return opened;
                return recording.ReadPicture(CShellRecording::ThumbnailPicture(recording.Facts().FrameTotal),
                                             picture.get());
            } catch (const std::bad_alloc&) {
                return E_OUTOFMEMORY;
            }
        },
        ThumbnailLimitMs);
    if (FAILED(read)) return read;
    const HRESULT made = MakeBitmap(*picture, size, bitmap);
    if (SUCCEEDED(made)) *alpha = WTSAT_RGB;
    return made;
}
