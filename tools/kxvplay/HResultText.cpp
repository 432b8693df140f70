#include "HResultText.h"

#include <errors.h>
#include <vfwmsgs.h>

#include <cwchar>

namespace {

struct NamedCode {
    HRESULT Code;
    const wchar_t* Name;
};

#define KX_NAMED(code) {static_cast<HRESULT>(code), L## #code}

const NamedCode Names[] = {
    KX_NAMED(S_OK),
    KX_NAMED(S_FALSE),
    KX_NAMED(E_NOTIMPL),
    KX_NAMED(E_NOINTERFACE),
    KX_NAMED(E_POINTER),
    KX_NAMED(E_ABORT),
    KX_NAMED(E_FAIL),
    KX_NAMED(E_UNEXPECTED),
    KX_NAMED(E_ACCESSDENIED),
    KX_NAMED(E_OUTOFMEMORY),
    KX_NAMED(E_INVALIDARG),
    KX_NAMED(REGDB_E_CLASSNOTREG),
    KX_NAMED(CLASS_E_CLASSNOTAVAILABLE),
    KX_NAMED(CO_E_NOTINITIALIZED),
    KX_NAMED(VFW_E_INVALIDMEDIATYPE),
    KX_NAMED(VFW_E_INVALIDSUBTYPE),
    KX_NAMED(VFW_E_NEED_OWNER),
    KX_NAMED(VFW_E_ENUM_OUT_OF_SYNC),
    KX_NAMED(VFW_E_ALREADY_CONNECTED),
    KX_NAMED(VFW_E_FILTER_ACTIVE),
    KX_NAMED(VFW_E_NO_TYPES),
    KX_NAMED(VFW_E_NO_ACCEPTABLE_TYPES),
    KX_NAMED(VFW_E_INVALID_DIRECTION),
    KX_NAMED(VFW_E_NOT_CONNECTED),
    KX_NAMED(VFW_E_NO_ALLOCATOR),
    KX_NAMED(VFW_E_RUNTIME_ERROR),
    KX_NAMED(VFW_E_BUFFER_NOTSET),
    KX_NAMED(VFW_E_BUFFER_OVERFLOW),
    KX_NAMED(VFW_E_BADALIGN),
    KX_NAMED(VFW_E_ALREADY_COMMITTED),
    KX_NAMED(VFW_E_BUFFERS_OUTSTANDING),
    KX_NAMED(VFW_E_NOT_COMMITTED),
    KX_NAMED(VFW_E_SIZENOTSET),
    KX_NAMED(VFW_E_NO_CLOCK),
    KX_NAMED(VFW_E_NO_SINK),
    KX_NAMED(VFW_E_NO_INTERFACE),
    KX_NAMED(VFW_E_NOT_FOUND),
    KX_NAMED(VFW_E_CANNOT_CONNECT),
    KX_NAMED(VFW_E_CANNOT_RENDER),
    KX_NAMED(VFW_E_CHANGING_FORMAT),
    KX_NAMED(VFW_E_NO_COLOR_KEY_SET),
    KX_NAMED(VFW_E_NOT_OVERLAY_CONNECTION),
    KX_NAMED(VFW_E_NOT_SAMPLE_CONNECTION),
    KX_NAMED(VFW_E_PALETTE_SET),
    KX_NAMED(VFW_E_COLOR_KEY_SET),
    KX_NAMED(VFW_E_NO_COLOR_KEY_FOUND),
    KX_NAMED(VFW_E_NO_PALETTE_AVAILABLE),
    KX_NAMED(VFW_E_NO_DISPLAY_PALETTE),
    KX_NAMED(VFW_E_TOO_MANY_COLORS),
    KX_NAMED(VFW_E_STATE_CHANGED),
    KX_NAMED(VFW_E_NOT_STOPPED),
    KX_NAMED(VFW_E_NOT_PAUSED),
    KX_NAMED(VFW_E_NOT_RUNNING),
    KX_NAMED(VFW_E_WRONG_STATE),
    KX_NAMED(VFW_E_START_TIME_AFTER_END),
    KX_NAMED(VFW_E_INVALID_RECT),
    KX_NAMED(VFW_E_TYPE_NOT_ACCEPTED),
    KX_NAMED(VFW_E_SAMPLE_REJECTED),
    KX_NAMED(VFW_E_SAMPLE_REJECTED_EOS),
    KX_NAMED(VFW_E_DUPLICATE_NAME),
    KX_NAMED(VFW_E_TIMEOUT),
    KX_NAMED(VFW_E_INVALID_FILE_FORMAT),
    KX_NAMED(VFW_E_ENUM_OUT_OF_RANGE),
    KX_NAMED(VFW_E_CIRCULAR_GRAPH),
    KX_NAMED(VFW_E_NOT_ALLOWED_TO_SAVE),
    KX_NAMED(VFW_E_TIME_ALREADY_PASSED),
    KX_NAMED(VFW_E_ALREADY_CANCELLED),
    KX_NAMED(VFW_E_CORRUPT_GRAPH_FILE),
    KX_NAMED(VFW_E_ADVISE_ALREADY_SET),
    KX_NAMED(VFW_E_NO_MODEX_AVAILABLE),
    KX_NAMED(VFW_E_NO_ADVISE_SET),
    KX_NAMED(VFW_E_NO_FULLSCREEN),
    KX_NAMED(VFW_E_UNKNOWN_FILE_TYPE),
    KX_NAMED(VFW_E_CANNOT_LOAD_SOURCE_FILTER),
    KX_NAMED(VFW_E_FILE_TOO_SHORT),
    KX_NAMED(VFW_E_INVALID_FILE_VERSION),
    KX_NAMED(VFW_E_INVALID_CLSID),
    KX_NAMED(VFW_E_INVALID_MEDIA_TYPE),
    KX_NAMED(VFW_E_SAMPLE_TIME_NOT_SET),
    KX_NAMED(VFW_E_MEDIA_TIME_NOT_SET),
    KX_NAMED(VFW_E_NO_TIME_FORMAT_SET),
    KX_NAMED(VFW_E_MONO_AUDIO_HW),
    KX_NAMED(VFW_E_NO_DECOMPRESSOR),
    KX_NAMED(VFW_E_NO_AUDIO_HARDWARE),
    KX_NAMED(VFW_E_RPZA),
    KX_NAMED(VFW_E_PROCESSOR_NOT_SUITABLE),
    KX_NAMED(VFW_E_UNSUPPORTED_AUDIO),
    KX_NAMED(VFW_E_UNSUPPORTED_VIDEO),
    KX_NAMED(VFW_E_NOT_IN_GRAPH),
    KX_NAMED(VFW_E_NO_TIME_FORMAT),
    KX_NAMED(VFW_E_READ_ONLY),
    KX_NAMED(VFW_E_BUFFER_UNDERFLOW),
    KX_NAMED(VFW_E_UNSUPPORTED_STREAM),
    KX_NAMED(VFW_E_NO_TRANSPORT),
    KX_NAMED(VFW_E_BAD_VIDEOCD),
    KX_NAMED(VFW_E_OUT_OF_VIDEO_MEMORY),
    KX_NAMED(VFW_E_VP_NEGOTIATION_FAILED),
    KX_NAMED(VFW_E_DDRAW_CAPS_NOT_SUITABLE),
    KX_NAMED(VFW_E_NO_VP_HARDWARE),
    KX_NAMED(VFW_E_NO_CAPTURE_HARDWARE),
    KX_NAMED(VFW_E_DVD_OPERATION_INHIBITED),
    KX_NAMED(VFW_E_DVD_INVALIDDOMAIN),
    KX_NAMED(VFW_E_BAD_KEY),
    KX_NAMED(VFW_S_NO_MORE_ITEMS),
    KX_NAMED(VFW_S_STATE_INTERMEDIATE),
    KX_NAMED(VFW_S_PARTIAL_RENDER),
    KX_NAMED(VFW_S_CANT_CUE),
};

#undef KX_NAMED

std::wstring Trimmed(std::wstring text) {
    while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' ' ||
                             text.back() == L'.')) {
        text.pop_back();
    }
    return text;
}

std::wstring PlatformDescription(HRESULT hr) {
    wchar_t text[512] = {};
    // Wine answers unknown codes with a bare "Error: 0x..." that adds nothing.
    if (AMGetErrorTextW(hr, text, ARRAYSIZE(text)) > 0 && wcsncmp(text, L"Error: 0x", 9) != 0) {
        return Trimmed(text);
    }
    if (FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, static_cast<DWORD>(hr), 0,
                       text, ARRAYSIZE(text), nullptr) > 0) {
        return Trimmed(text);
    }
    return std::wstring();
}

}  // namespace

std::wstring HResultName(HRESULT hr) {
    for (const NamedCode& entry : Names) {
        if (entry.Code == hr) return entry.Name;
    }
    if (HRESULT_FACILITY(hr) == FACILITY_WIN32) {
        switch (HRESULT_CODE(hr)) {
        case ERROR_FILE_NOT_FOUND: return L"HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)";
        case ERROR_PATH_NOT_FOUND: return L"HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND)";
        case ERROR_MOD_NOT_FOUND: return L"HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND)";
        case ERROR_SHARING_VIOLATION: return L"HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION)";
        default: break;
        }
    }
    return std::wstring();
}

std::wstring DescribeHResult(HRESULT hr) {
    wchar_t hex[16];
    swprintf(hex, ARRAYSIZE(hex), L"0x%08lX", static_cast<unsigned long>(hr));
    std::wstring text = hex;
    const std::wstring name = HResultName(hr);
    if (!name.empty()) text += L" " + name;
    const std::wstring description = PlatformDescription(hr);
    if (!description.empty()) text += L": " + description;
    return text;
}
